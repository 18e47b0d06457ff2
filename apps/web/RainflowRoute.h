// GET /api/rainflow: a channel's rainflow count for one file or a duty cycle of several,
// counted by the data server next to the data (doc/rainflow.md). Its parameters are those
// of `nodra-browse rainflow` and its answer is the document of its --json.
#pragma once

#include <httplib.h>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Web {

// Adds the route to `server`, answering through `root` (kept); `timeoutSeconds` is the
// ORB's call timeout, named when the data server does not answer in time.
void mpAddRainflowRoute(httplib::Server& server, ::TAMBLIX::NODRA::Framework::DataServer_ptr root,
                        unsigned timeoutSeconds);

}  // namespace TamblixHq::NODRA::Web
