// Opens the file object a program works on: served by an ORB inside the program, or by a
// running server named by a URL (corbaloc, IOR or corbaname).
#pragma once

#include <stdexcept>
#include <string>

#include "host/framework/CHostOrb.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Client {

namespace IDL = ::TAMBLIX::NODRA::Framework;

// A request the program cannot carry out as given (exit status 2).
class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Where a remote file lies: ACCESS_POINT/SUB/DIRS/NAME split into the root object's terms.
struct RemoteFileName {
  std::string mAccessPoint;
  std::string mSubDirectory;  // empty, or the directories between access point and name
  std::string mFileName;
};

// Splits "ACCESS_POINT/PATH". Throws UsageError when either part is missing.
RemoteFileName mfSplitRemoteFileName(const std::string& text);

// The root object named by `url`. Throws UsageError when the URL is malformed or names
// something that is not a data server; CORBA::TRANSIENT when nobody answers there.
IDL::DataServer_ptr mfReachServer(CORBA::ORB_ptr orb, const std::string& url);

// The file object: with an empty `server`, `file` is a path on this machine served by the
// program's own ORB (whose data objects this sets up and activates); otherwise `file` is
// ACCESS_POINT/PATH on the server at `server`. Throws UsageError, or the data objects'
// exceptions when the file cannot be opened.
IDL::File_ptr mfOpenFile(Framework::CHostOrb& orb, const std::string& file,
                         const std::string& server);

}  // namespace TamblixHq::NODRA::Client
