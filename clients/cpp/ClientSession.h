// A long-lived client of data objects for a program that opens files as it goes (the Python
// package): one ORB for the whole process, which serves local files in the process (each
// directory an access point of its own, added at its first file) and calls nodra-servers
// by URL. Safe to use from several threads.
#pragma once

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "clients/cpp/FileSource.h"
#include "host/framework/CHostOrb.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Client {

// A server that cannot be reached or did not answer in time, in one sentence.
class Unreachable : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class ClientSession {
public:
  // The session of local files. The first call starts the process's ORB and serves the
  // data objects in it.
  static std::shared_ptr<ClientSession> sfLocal();
  // The session of the nodra-server at `url`; a server that does not answer raises
  // Unreachable, a malformed URL UsageError.
  static std::shared_ptr<ClientSession> sfRemote(const std::string& url);

  // "local", or the server's URL.
  const std::string& mfUrl() const { return mUrl; }
  // The file at `path`: a path of this machine for the local session, ACCESS_POINT/PATH
  // for a server. Throws UsageError and what the root object throws.
  IDL::File_ptr mfOpen(const std::string& path);
  // The access points (`directory` empty) or one directory (ACCESS_POINT[/DIRS]) as the
  // viewer's /api/files document.
  std::string mfListJson(const std::string& directory);

  // Runs `work`; a call that could not reach the server or timed out becomes Unreachable.
  template <class Work>
  auto mfGuard(Work work) -> decltype(work()) {
    try {
      return work();
    } catch (const CORBA::TRANSIENT& e) {
      throw Unreachable(mfUnreachableText(e, mUrl, kDefaultCallTimeoutSeconds));
    } catch (const CORBA::TIMEOUT& e) {
      throw Unreachable(mfUnreachableText(e, mUrl, kDefaultCallTimeoutSeconds));
    } catch (const CORBA::COMM_FAILURE& e) {
      throw Unreachable("the connection to " + mUrl + " was lost");
    }
  }

private:
  ClientSession(std::string url, IDL::DataServer_ptr root) : mUrl(std::move(url)), mRoot(root) {}

  std::string mUrl;
  IDL::DataServer_var mRoot;
  std::mutex mMutex;                                               // guards mAccessPoints
  std::unordered_map<std::string, std::string> mAccessPoints;      // local: directory to its name
};

}  // namespace TamblixHq::NODRA::Client
