// The viewer's HTTP side and the data API of scripts: JSON routes over a data server's root
// object (access points, files, a file's listing, a channel's window and statistics), the
// values of channels streamed as float32, NPY or CSV, and the page files. Read-only;
// every parameter is checked before any object is asked, and a path that could lead out of
// its access point never reaches the root object. Safe to share between request threads.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <string>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Web {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CWebApi {
public:
  // The most values one request of /api/values may ask for, all its channels together.
  static constexpr std::uint64_t kDefaultMaxValues = std::uint64_t{64} << 20;

  struct Settings {
    unsigned timeoutSeconds = 0;  // the ORB's call timeout, named in answers; 0: none
    std::uint64_t maxValues = kDefaultMaxValues;
  };

  // Answers through `root`, which it keeps.
  CWebApi(IDL::DataServer_ptr root, Settings settings);

  // Adds the routes under /api/ and serves the files of `webRoot` at /.
  void mpRoute(httplib::Server& server, const std::string& webRoot);

private:
  void mpAnswerValues(const httplib::Request& request, httplib::Response& response) const;

  IDL::DataServer_var mRoot;
  Settings mSettings;
};

}  // namespace TamblixHq::NODRA::Web
