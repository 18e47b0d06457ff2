#include "apps/web/CWebApi.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "catalogue/Catalogue.h"
#include "clients/cpp/CatalogueOutput.h"
#include "clients/cpp/ChannelDump.h"
#include "clients/cpp/ChannelStats.h"
#include "clients/cpp/ChannelWindow.h"
#include "clients/cpp/Failure.h"
#include "clients/cpp/FileListing.h"
#include "clients/cpp/FileSource.h"
#include "clients/cpp/ListingOutput.h"
#include "apps/web/RainflowRoute.h"
#include "apps/web/RouteSupport.h"
#include "host/framework/CHostOrb.h"

namespace TamblixHq::NODRA::Web {

namespace {

namespace Client = ::TamblixHq::NODRA::Client;

Json filesRoute(IDL::DataServer_ptr root, const Query& query, CRequestBudget&) {
  const std::optional<std::string> dir = query.mfText("dir");
  if (dir && dir->empty()) throw badRequest("dir \"\": the path has an empty component");
  try {
    return Client::mfDirectoriesJson(root, dir.value_or(""));
  } catch (const IDL::DBAccessException& e) {
    throw HttpError{404, e.message.in(), e.reason.in()};
  }
}

Json fileRoute(IDL::DataServer_ptr root, const Query& query, CRequestBudget& budget) {
  const std::string path = query.mfRequired("path");
  budget.mpChargeFiles(1);
  IDL::File_var file = openFile(root, path);
  Json listing = Client::mfListingJson(Client::mfReadListing(file));
  Json reply{{"path", path}};
  for (auto& [key, value] : listing.items()) reply[key] = std::move(value);
  return reply;
}

Json channelRoute(IDL::DataServer_ptr root, const Query& query, CRequestBudget& budget) {
  const std::string path = query.mfRequired("path");
  const CORBA::ULong most = std::numeric_limits<CORBA::ULong>::max();
  const std::optional<CORBA::ULong> number = query.mfWhole("channel", 1, most);
  if (!number) throw badRequest("parameter \"channel\" is required");
  Client::WindowRequest request;
  request.mFrom = query.mfSeconds("from");
  request.mTo = query.mfSeconds("to");
  if (request.mFrom && request.mTo && *request.mFrom > *request.mTo) {
    throw badRequest("from (" + query.mfText("from").value() + ") lies after to (" +
                     query.mfText("to").value() + ")");
  }
  request.mWidth = query.mfWhole("width", 1, Client::kMaxWindowWidth).value_or(request.mWidth);
  budget.mpChargeFiles(1);
  IDL::File_var file = openFile(root, path);
  const std::vector<Client::ChannelListing> channel = Client::mfReadChannels(file, {*number});
  const Client::WindowPlan plan = Client::mfPlanWindow(channel[0], request);
  budget.mpChargeValues(plan.mCount, "the window", "ask a shorter one with from and to");
  return Client::mfWindowJson(channel[0], plan);
}

Json statsRoute(IDL::DataServer_ptr root, const Query& query, CRequestBudget& budget) {
  const std::string path = query.mfRequired("path");
  const std::vector<CORBA::ULong> numbers = channelNumbers(query);
  // A window (from, to) selects each channel's values by its own times; none, every value.
  Client::ValueRequest window;
  window.mFrom = query.mfSeconds("from");
  window.mTo = query.mfSeconds("to");
  if (window.mFrom && window.mTo && *window.mFrom > *window.mTo) {
    throw badRequest("from (" + query.mfText("from").value() + ") lies after to (" + query.mfText("to").value() + ")");
  }
  budget.mpChargeFiles(1);
  IDL::File_var file = openFile(root, path);
  const std::vector<Client::ChannelListing> channels = Client::mfReadChannels(file, numbers);
  const std::vector<const Client::ChannelListing*> chosen = Client::mfPointersTo(channels);
  std::uint64_t values = 0;
  for (const Client::ChannelListing* channel : chosen) values += Client::mfSelectValues(*channel, window).mCount;
  budget.mpChargeValues(values, "the statistics of " + std::to_string(chosen.size()) + " channels",
                        "ask for fewer channels with channel=, or a shorter window with from and to");
  budget.mpCheck();
  Json reply{{"path", path}};
  if (window.mFrom) reply["from"] = *window.mFrom;
  if (window.mTo) reply["to"] = *window.mTo;
  reply["channels"] = Client::mfStatsJson(chosen, Client::mfReadStats(chosen, window))["channels"];
  return reply;
}

// The forms /api/values answers in.
enum class ValuesFormat { eFloat32, eNpy, eCsv };

// The form asked for: parameter "format" (raw, npy or csv), else the Accept header; CSV when
// neither says, so that a plain URL reads as a table.
ValuesFormat valuesFormat(const httplib::Request& request, const Query& query) {
  if (const std::optional<std::string> format = query.mfText("format")) {
    if (*format == "raw") return ValuesFormat::eFloat32;
    if (*format == "npy") return ValuesFormat::eNpy;
    if (*format == "csv") return ValuesFormat::eCsv;
    throw badRequest("parameter \"format\" must be raw, npy or csv, got \"" + *format + "\"");
  }
  const std::string accept = request.get_header_value("Accept");
  if (accept.find("application/x-npy") != std::string::npos) return ValuesFormat::eNpy;
  if (accept.find("application/octet-stream") != std::string::npos) return ValuesFormat::eFloat32;
  return ValuesFormat::eCsv;
}

const char* contentType(ValuesFormat format) {
  switch (format) {
    case ValuesFormat::eFloat32: return "application/octet-stream";
    case ValuesFormat::eNpy: return "application/x-npy";
    case ValuesFormat::eCsv: break;
  }
  return "text/csv; charset=utf-8";
}

// What a values answer streams once its headers are out: the file and channels it reads.
struct ValuesStream {
  IDL::File_var mFile;
  std::vector<Client::ChannelListing> mChannels;
  Client::ValueSelection mSelection;
  ValuesFormat mFormat;
  Client::CsvStyle mCsvStyle;
  std::string mPath;
  std::string mNpyHeader;  // NPY answers: the header before the values
};

}  // namespace

CWebApi::CWebApi(IDL::DataServer_ptr root, Settings settings)
    : mRoot(IDL::DataServer::_duplicate(root)), mSettings(settings) {}

void CWebApi::mpAnswerValues(const httplib::Request& request, httplib::Response& response,
                             const RequestBudget& budget) const {
  respond(response, mSettings.timeoutSeconds, [&] {
    const Query query(request, {"path", "channel", "start", "count", "from", "to", "format", "delimiter", "decimal"});
    // An answer is written once, as it is read: it has no parts to ask for.
    if (request.has_header("Range")) throw badRequest("values are not answered in ranges; ask with start and count");
    auto stream = std::make_shared<ValuesStream>();
    stream->mPath = query.mfRequired("path");
    stream->mFormat = valuesFormat(request, query);
    const std::optional<std::string> decimal = query.mfText("decimal");
    if (decimal && *decimal != "comma" && *decimal != "point") {
      throw badRequest("parameter \"decimal\" is comma or point, got \"" + *decimal + "\"");
    }
    if ((decimal || query.mfText("delimiter")) && stream->mFormat != ValuesFormat::eCsv) {
      throw badRequest("parameters \"delimiter\" and \"decimal\" are for CSV answers");
    }
    stream->mCsvStyle = Client::mfCsvStyle(query.mfText("delimiter"), decimal == "comma");
    const std::vector<CORBA::ULong> numbers = channelNumbers(query);
    if (numbers.empty()) throw badRequest("parameter \"channel\" is required");
    const CORBA::ULong most = std::numeric_limits<CORBA::ULong>::max();
    Client::ValueRequest asked;
    asked.mStart = query.mfWhole("start", 1, most);
    asked.mCount = query.mfWhole("count", 0, most);
    asked.mFrom = query.mfSeconds("from");
    asked.mTo = query.mfSeconds("to");
    budget->mpChargeFiles(1);
    stream->mFile = openFile(mRoot.in(), stream->mPath);
    stream->mChannels = Client::mfReadChannels(stream->mFile.in(), numbers);
    const std::vector<const Client::ChannelListing*> channels = Client::mfPointersTo(stream->mChannels);
    Client::mpRequireCommonTimeBase(channels);
    stream->mSelection = Client::mfSelectValues(*channels[0], asked, "start");
    const std::uint64_t values = std::uint64_t{stream->mSelection.mCount} * channels.size();
    budget->mpChargeValues(values, "the request",
                           "ask in pieces with start and count, or nodra-web --max-values");
    std::string numbersText;
    for (CORBA::ULong number : numbers) numbersText += (numbersText.empty() ? "" : ",") + std::to_string(number);
    const Client::ChannelListing& base = *channels[0];
    response.set_header("X-Nodra-Channels", numbersText);
    response.set_header("X-Nodra-Start", std::to_string(stream->mSelection.mStart));
    response.set_header("X-Nodra-Count", std::to_string(stream->mSelection.mCount));
    response.set_header("X-Nodra-First-Time", Client::mfNumberText(base.mfTime(stream->mSelection.mStart)));
    response.set_header("X-Nodra-Spacing", Client::mfNumberText(base.mSpacing));
    // Values are read as they are sent, a chunk of each channel at a time. A failure after
    // the first bytes can only cut the answer short, which the client sees: float32 and NPY
    // answers have their length, CSV ones come in chunks and lack their last.
    // The budget goes with the stream: its slot is held and its time runs until the last byte.
    const auto write = [stream, budget](const httplib::DataSink& sink) {
      const Client::ByteSink send = [&sink, &budget](const char* bytes, std::size_t size) {
        budget->mpCheck();
        if (!sink.write(bytes, size)) throw ClientGone{};
      };
      try {
        const std::vector<const Client::ChannelListing*> channels = Client::mfPointersTo(stream->mChannels);
        if (stream->mFormat == ValuesFormat::eCsv) {
          Client::mpWriteCsv(send, channels, stream->mSelection, false, stream->mCsvStyle);
        } else {
          if (stream->mFormat == ValuesFormat::eNpy) send(stream->mNpyHeader.data(), stream->mNpyHeader.size());
          Client::mpWriteFloat32(send, channels, stream->mSelection);
        }
        return true;
      } catch (const ClientGone&) {
        // Nobody reads the rest.
      } catch (const HttpError& e) {
        std::fprintf(stderr, "nodra-web: values of %s cut short: %s\n", stream->mPath.c_str(), e.mMessage.c_str());
      } catch (...) {
        const Client::Failure failure = Client::mfClassifyFailure(std::current_exception(), {});
        std::fprintf(stderr, "nodra-web: values of %s cut short: %s\n", stream->mPath.c_str(),
                     Client::mfFailureLine(failure, true).c_str());
      }
      return false;
    };
    if (stream->mFormat == ValuesFormat::eCsv) {
      response.set_chunked_content_provider(contentType(stream->mFormat), [write](std::size_t, httplib::DataSink& sink) {
        if (!write(sink)) return false;
        sink.done();
        return true;
      });
      return;
    }
    if (stream->mFormat == ValuesFormat::eNpy) {
      stream->mNpyHeader = Client::mfNpyHeader(stream->mSelection.mCount, channels.size());
    }
    const std::size_t length = stream->mNpyHeader.size() + 4 * static_cast<std::size_t>(values);
    if (length == 0) {
      // Nothing to stream; the objects are still asked, so that a channel they cannot read
      // is reported rather than answered empty.
      Client::mpWriteFloat32([](const char*, std::size_t) {}, channels, stream->mSelection);
      response.set_content("", contentType(stream->mFormat));
      return;
    }
    response.set_content_provider(length, contentType(stream->mFormat),
                                  [write, length](std::size_t offset, std::size_t size, httplib::DataSink& sink) {
                                    // The whole answer, in one call: ranges are refused above.
                                    return offset == 0 && size == length && write(sink);
                                  });
  });
}

void CWebApi::mpAnswerCatalogue(const httplib::Request& request, httplib::Response& response, bool summary) const {
  respond(response, mSettings.timeoutSeconds, [&] {
    const Query query(request, {"q", "unit", "rate", "recorded_from", "recorded_to", "path", "label", "limit", "offset",
                                "format"});
    const Catalogue::Query filters = Client::mfCatalogueQuery([&](const char* name) { return query.mfText(name); });
    const std::string format = query.mfText("format").value_or("json");
    if (format != "json" && format != "csv") throw badRequest("parameter \"format\" must be json or csv");
    const std::unique_ptr<Catalogue::CCatalogue> catalogue = Catalogue::mfOpenCatalogue(mSettings.catalogueUrl);
    if (summary) {
      response.set_content(Client::mfCatalogueSummaryJson(catalogue->mfSummary(filters))
                               .dump(-1, ' ', false, Json::error_handler_t::replace),
                           "application/json");
      return;
    }
    const std::vector<Catalogue::ChannelRow> rows = catalogue->mfFind(filters);
    if (format == "csv") {
      std::ostringstream csv;
      Client::mpWriteCatalogueRowsCsv(csv, rows);
      response.set_content(csv.str(), "text/csv; charset=utf-8");
    } else {
      response.set_content(Client::mfCatalogueRowsJson(rows, filters)
                               .dump(-1, ' ', false, Json::error_handler_t::replace),
                           "application/json");
    }
  });
}

void CWebApi::mpRoute(CWebServer& server, const std::string& webRoot) {
  using Route = Json (*)(IDL::DataServer_ptr, const Query&, CRequestBudget&);
  const auto add = [this, &server](const char* pattern, const RouteBudget& budget, Route route,
                                   std::initializer_list<const char*> known) {
    const std::set<std::string> names(known.begin(), known.end());
    server.mpRoute(pattern, budget, [this, route, names](const httplib::Request& request, httplib::Response& response,
                                                         const RequestBudget& spent) {
      answer(response, mSettings.timeoutSeconds, [&] { return route(mRoot.in(), Query(request, names), *spent); });
    });
  };
  // What one request of each route may use: listings open at most a file and read no
  // values; windows and statistics read values to make small answers, the statistics whole
  // channels (heavy); values stream what they read.
  add("/api/files", RouteBudget{0, 0, false, false}, filesRoute, {"dir"});
  add("/api/file", RouteBudget{0, 1, false, false}, fileRoute, {"path"});
  add("/api/channel", RouteBudget{mSettings.maxReadValues, 1, false, false}, channelRoute,
      {"path", "channel", "from", "to", "width"});
  add("/api/stats", RouteBudget{mSettings.maxReadValues, 1, true, false}, statsRoute,
      {"path", "channel", "from", "to"});
  server.mpRoute("/api/values", RouteBudget{mSettings.maxValues, 1, false, true},
                 [this](const httplib::Request& request, httplib::Response& response, const RequestBudget& budget) {
                   mpAnswerValues(request, response, budget);
                 });
  mpAddRainflowRoute(server, mRoot.in(), mSettings.timeoutSeconds,
                     RouteBudget{mSettings.maxReadValues, kMaxRainflowFiles, true, false});
  // The catalogue of the files of this viewer (and, shared, of others): light queries.
  if (!mSettings.catalogueUrl.empty()) {
    for (const bool summary : {false, true}) {
      server.mpRoute(summary ? "/api/catalogue/summary" : "/api/catalogue", RouteBudget{0, 0, false, false},
                     [this, summary](const httplib::Request& request, httplib::Response& response,
                                     const RequestBudget&) { mpAnswerCatalogue(request, response, summary); });
    }
  }
  // Anything else under /api/ is no route: say so in JSON as the routes do.
  server.mpSetErrorHandler([](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty() || request.path.rfind("/api/", 0) != 0) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    const Json body{{"error", "no such route: " + request.path}};
    response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
    return httplib::Server::HandlerResponse::Handled;
  });
  server.mpServeFiles("/", webRoot);
}

}  // namespace TamblixHq::NODRA::Web
