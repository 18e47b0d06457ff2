// The viewer's HTTP side and the data API of scripts: JSON routes over a data server's root
// object (access points, files, a file's listing, a channel's window and statistics), the
// values of channels streamed as float32, NPY or CSV, and the page files. Read-only;
// every parameter is checked before any object is asked, and a path that could lead out of
// its access point never reaches the root object. Safe to share between request threads.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "apps/web/CWebServer.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Web {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CWebApi {
public:
  // The most values one request of /api/values may ask for, all its channels together.
  static constexpr std::uint64_t kDefaultMaxValues = std::uint64_t{64} << 20;
  // The most values one request may read to make its answer (a window's envelope, the
  // statistics, rainflow counts), all its files and channels together.
  static constexpr std::uint64_t kDefaultMaxReadValues = std::uint64_t{1} << 30;
  // The most files one request of /api/rainflow may name.
  static constexpr std::size_t kMaxRainflowFiles = 1000;

  struct Settings {
    unsigned timeoutSeconds = 0;  // the ORB's call timeout, named in answers; 0: none
    std::uint64_t maxValues = kDefaultMaxValues;
    std::uint64_t maxReadValues = kDefaultMaxReadValues;
    std::string catalogueUrl;  // empty: no catalogue routes
  };

  // Answers through `root`, which it keeps.
  CWebApi(IDL::DataServer_ptr root, Settings settings);

  // Adds the routes under /api/, each with what one of its requests may use, and serves
  // the files of `webRoot` at /.
  void mpRoute(CWebServer& server, const std::string& webRoot);


private:
  void mpAnswerValues(const httplib::Request& request, httplib::Response& response,
                      const RequestBudget& budget) const;

  // GET /api/catalogue and /api/catalogue/summary.
  void mpAnswerCatalogue(const httplib::Request& request, httplib::Response& response, bool summary) const;

  IDL::DataServer_var mRoot;
  Settings mSettings;
};

}  // namespace TamblixHq::NODRA::Web
