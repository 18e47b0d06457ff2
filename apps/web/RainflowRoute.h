// GET /api/rainflow: a channel's rainflow count for one file or a duty cycle of several,
// counted by the data server next to the data (doc/rainflow.md). Its parameters are those
// of `nodra-browse rainflow` and its answer is the document of its --json.
#pragma once

#include "apps/web/CWebServer.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Web {

// Adds the route to `server`, answering through `root` (kept), each request within
// `budget`: its files, and the values read in all (every count, and the extremes that fix
// a common class range). `timeoutSeconds` is the ORB's call timeout, named when the data
// server does not answer in time.
void mpAddRainflowRoute(CWebServer& server, ::TAMBLIX::NODRA::Framework::DataServer_ptr root,
                        unsigned timeoutSeconds, const RouteBudget& budget);

}  // namespace TamblixHq::NODRA::Web
