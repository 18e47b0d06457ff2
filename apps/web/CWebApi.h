// The viewer's HTTP side: JSON routes over a data server's root object (access points,
// files, a file's listing, a channel's window and statistics) and the page files. Read-only;
// every parameter is checked before any object is asked, and a path that could lead out of
// its access point never reaches the root object. Safe to share between request threads.
#pragma once

#include <httplib.h>

#include <string>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Web {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CWebApi {
public:
  // Answers through `root`, which it keeps; calls to it time out after `timeoutSeconds`
  // (the ORB's setting, named in the answer; 0: none).
  explicit CWebApi(IDL::DataServer_ptr root, unsigned timeoutSeconds = 0);

  // Adds the routes under /api/ and serves the files of `webRoot` at /.
  void mpRoute(httplib::Server& server, const std::string& webRoot);

private:
  IDL::DataServer_var mRoot;
  unsigned mTimeoutSeconds;
};

}  // namespace TamblixHq::NODRA::Web
