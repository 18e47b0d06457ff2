#include "apps/web/RainflowRoute.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/Rainflow.h"
#include "clients/cpp/ChannelRainflow.h"
#include "clients/cpp/FileSource.h"
#include "apps/web/RouteSupport.h"

namespace TamblixHq::NODRA::Web {

namespace {

namespace Client = ::TamblixHq::NODRA::Client;
namespace Analysis = ::TamblixHq::NODRA::Analysis;

// Parameters the route knows; each once, but "path", which names one file each time.
const std::set<std::string> kKnown{"path", "channel", "classes", "range", "gate", "method", "slope",
                                   "reference_range", "reference_cycles", "max_cycles", "per_file",
                                   "format", "join"};

// The count a request asks for; `query` has checked its parameters.
Client::RainflowRun count(IDL::DataServer_ptr root, const httplib::Request& request, const Query& query,
                          CRequestBudget& budget) {
  const std::size_t paths = request.get_param_value_count("path");
  if (paths == 0) throw badRequest("parameter \"path\" is required");
  budget.mpChargeFiles(paths);
  const std::optional<CORBA::ULong> number = query.mfWhole("channel", 1, std::numeric_limits<CORBA::ULong>::max());
  if (!number) throw badRequest("parameter \"channel\" is required");
  const CORBA::ULong channel = *number;

  Analysis::RainflowSettings settings;
  if (auto v = query.mfWhole("classes", 1, Analysis::kMaxClasses)) settings.mClasses = *v;
  if (auto range = query.mfNumbers("range")) {
    if (range->size() != 2) throw badRequest("parameter \"range\" takes MIN,MAX, got \"" + *query.mfText("range") + "\"");
    settings.mHasRange = true;
    settings.mRangeMin = (*range)[0];
    settings.mRangeMax = (*range)[1];
  }
  if (auto v = query.mfNumber("gate")) settings.mGate = *v;
  if (auto v = query.mfText("method")) {
    if (*v != "astm" && *v != "four-point") {
      throw badRequest("parameter \"method\" is astm or four-point, got \"" + *v + "\"");
    }
    settings.mMethod = *v == "four-point" ? Analysis::RainflowMethod::kFourPoint : Analysis::RainflowMethod::kAstm;
  }
  if (auto v = query.mfNumbers("slope")) settings.mSlopes = *v;
  if (auto v = query.mfNumber("reference_range")) settings.mReferenceRange = *v;
  if (auto v = query.mfNumber("reference_cycles")) settings.mReferenceCycles = *v;
  if (auto v = query.mfWhole("max_cycles", 0, Analysis::kMaxListedCycles)) settings.mMaxCycles = *v;
  const std::string problem = Analysis::mfSettingsProblem(settings);
  if (!problem.empty()) throw badRequest(problem);

  std::vector<Client::RainflowSource> sources;
  std::vector<IDL::File_var> files;
  for (std::size_t i = 0; i < paths; ++i) {
    budget.mpCheck();
    const Client::RainflowSource source = Client::mfParseRainflowSource(request.get_param_value("path", i));
    IDL::File_var file = openFile(root, source.mFile);
    sources.push_back(source);
    files.push_back(file);
  }
  const auto check = [&budget, paths](std::uint64_t values) {
    budget.mpCheck();
    budget.mpChargeValues(values, "the count of " + std::to_string(paths) + (paths == 1 ? " file" : " files"),
                          "count fewer files a request, or nodra-web --max-read-values");
  };
  // join=1: the files one signal, counted here on the threads a count of this process takes.
  if (query.mfWhole("join", 0, 1).value_or(0) == 1) {
    return Client::mfCountRainflowJoined(files, sources, channel, settings, 0, check);
  }
  return Client::mfCountRainflow(files, sources, channel, settings, check);
}

// The answer: the JSON document, or with format=matrix-csv the from-to matrix of the total
// as the command's --matrix-csv writes it.
void countAndAnswer(IDL::DataServer_ptr root, const httplib::Request& request, httplib::Response& response,
                    CRequestBudget& budget) {
  const Query query(request, kKnown, {"path"});
  const std::string format = query.mfText("format").value_or("json");
  if (format != "json" && format != "matrix-csv") {
    throw badRequest("parameter \"format\" must be json or matrix-csv, got \"" + format + "\"");
  }
  const bool perFile = query.mfWhole("per_file", 0, 1).value_or(0) == 1;
  const Client::RainflowRun run = count(root, request, query, budget);
  if (format == "matrix-csv") {
    std::ostringstream csv;
    Client::mpWriteMatrixCsv(csv, run.mTotal);
    response.set_content(csv.str(), "text/csv; charset=utf-8");
    return;
  }
  response.set_content(Client::mfRainflowJson(run, perFile).dump(-1, ' ', false, Json::error_handler_t::replace),
                       "application/json");
}

}  // namespace

void mpAddRainflowRoute(CWebServer& server, IDL::DataServer_ptr root, unsigned timeoutSeconds,
                        const RouteBudget& budget) {
  IDL::DataServer_var kept = IDL::DataServer::_duplicate(root);
  server.mpRoute("/api/rainflow", budget,
                 [kept, timeoutSeconds](const httplib::Request& request, httplib::Response& response,
                                        const RequestBudget& spent) {
                   respond(response, timeoutSeconds, [&] { countAndAnswer(kept.in(), request, response, *spent); });
                 });
}

}  // namespace TamblixHq::NODRA::Web
