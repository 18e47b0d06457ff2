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
  // Answers through `root`, which it keeps.
  explicit CWebApi(IDL::DataServer_ptr root);

  // Adds the routes under /api/ and serves the files of `webRoot` at /.
  void mpRoute(httplib::Server& server, const std::string& webRoot);

private:
  IDL::DataServer_var mRoot;
};

}  // namespace TamblixHq::NODRA::Web
