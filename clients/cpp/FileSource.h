// Opens the objects a program works on: served by an ORB inside the program, or by a
// running server named by a URL (corbaloc, IOR or corbaname).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/framework/CHostOrb.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Client {

namespace IDL = ::TAMBLIX::NODRA::Framework;

// A request the program cannot carry out as given (exit status 2).
class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A directory served under a name, as NAME=DIR on a command line (read by
// Apps::mfParseAccessPoints).
struct AccessPoint {
  std::string mName;
  std::string mDirectory;
};

// Where a remote file lies: ACCESS_POINT/SUB/DIRS/NAME split into the root object's terms.
struct RemoteFileName {
  std::string mAccessPoint;
  std::string mSubDirectory;  // empty, or the directories between access point and name
  std::string mFileName;      // empty when a directory was asked for
};

// Splits "ACCESS_POINT/PATH" (a file) or "ACCESS_POINT[/DIRS]" (a directory) without
// looking at any file. Nothing when a part is missing, or when the text is absolute or has
// an empty, "." or ".." component, a backslash or a NUL byte, with the reason in `why`:
// a name that could lead out of its access point never reaches a server.
std::optional<RemoteFileName> mfParseFileName(const std::string& text, std::string& why);
std::optional<RemoteFileName> mfParseDirectoryName(const std::string& text, std::string& why);

// mfParseFileName for a command line: throws UsageError with the reason.
RemoteFileName mfSplitRemoteFileName(const std::string& text);

// How long a client waits for one call to a server by default.
constexpr unsigned kDefaultCallTimeoutSeconds = 30;

// The ORB settings of a client program: its embedded objects need no network, so its ORB
// listens on loopback only; a call to a server that does not answer within
// `timeoutSeconds` fails (0: waits for ever).
Framework::CHostOrb::Settings mfClientOrbSettings(unsigned timeoutSeconds = kDefaultCallTimeoutSeconds);

// One sentence for a call to the server at `url` that failed with `e`: it did not answer
// in time, or could not be reached.
std::string mfUnreachableText(const CORBA::SystemException& e, const std::string& url, unsigned timeoutSeconds);

// The root object named by `url`; from then on a call that fails with COMM_FAILURE (its
// connection closed by a server that restarted) is tried again on a new connection.
// Throws UsageError when the URL is malformed or names
// something that is not a data server; CORBA::TRANSIENT when nobody answers there.
IDL::DataServer_ptr mfReachServer(CORBA::ORB_ptr orb, const std::string& url);

// Serves the data objects of `accessPoints` from the program's own ORB and answers their
// root object. REQUIRES: called at most once per process.
IDL::DataServer_ptr mfServeEmbedded(Framework::CHostOrb& orb,
                                    const std::vector<AccessPoint>& accessPoints);

// The root object a program works through: with an empty `server`, its own (see
// mfServeEmbedded); otherwise the one at `server` (see mfReachServer).
IDL::DataServer_ptr mfOpenRoot(Framework::CHostOrb& orb, const std::vector<AccessPoint>& accessPoints,
                               const std::string& server);

// A file that cannot be opened (exit status 1): "Unable to open FILE: why", FILE as the user
// gave it.
class OpenError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Adds the access points `root` has to `e` when `e` refuses an access point it does not have.
void mpNameKnownAccessPoints(IDL::DataServer_ptr root, IDL::DBAccessException& e);

// The file `name` of `root`, the one place that words a refusal: "Unable to open ASGIVEN:
// why", with the name the user gave. With `local`, `asGiven` is a path on this machine,
// checked first (OpenError when missing, a directory or not a regular file), and a file no
// type recognises is "not an RPC III file". Throws what the root object throws.
IDL::File_ptr mfOpenServedFile(IDL::DataServer_ptr root, const RemoteFileName& name, const std::string& asGiven,
                               bool local);

// The file objects of `files`, in their order. With an empty `server`, each is a path on
// this machine served by the program's own ORB, each directory an access point (this sets
// up and activates the objects); otherwise ACCESS_POINT/PATH on the server at `server`.
// Errors name each file as given. Throws UsageError for a malformed remote name, OpenError
// for a local path that is missing, a directory or not a regular file, and the data
// objects' exceptions ("Unable to open FILE: ...") for a file they refuse.
// REQUIRES (local): nothing else served the embedded objects in this process.
std::vector<IDL::File_var> mfOpenFiles(Framework::CHostOrb& orb, const std::vector<std::string>& files,
                                       const std::string& server);

// mfOpenFiles of one file.
IDL::File_ptr mfOpenFile(Framework::CHostOrb& orb, const std::string& file, const std::string& server);

}  // namespace TamblixHq::NODRA::Client
