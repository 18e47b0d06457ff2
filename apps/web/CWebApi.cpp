#include "apps/web/CWebApi.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <vector>

#include "apps/client/ChannelDump.h"
#include "apps/client/ChannelStats.h"
#include "apps/client/ChannelWindow.h"
#include "apps/client/FileListing.h"
#include "apps/client/FileSource.h"
#include "apps/client/ListingOutput.h"
#include "host/framework/CHostOrb.h"

namespace TamblixHq::NODRA::Web {

namespace {

namespace Client = ::TamblixHq::NODRA::Client;
using Json = nlohmann::ordered_json;

// A request answered with `mStatus` and {"error": mMessage[, "reason": mReason]}.
struct HttpError {
  int mStatus;
  std::string mMessage;
  std::string mReason;
};

HttpError badRequest(const std::string& message) { return HttpError{400, message, ""}; }

// The query parameters of a request, each given at most once and each one the route knows.
class Query {
public:
  Query(const httplib::Request& request, const std::set<std::string>& known) : mRequest(request) {
    for (const auto& [name, value] : request.params) {
      if (known.count(name) == 0) throw badRequest("unknown parameter \"" + name + "\"");
      if (request.get_param_value_count(name) > 1) throw badRequest("parameter \"" + name + "\" is given twice");
    }
  }

  std::optional<std::string> mfText(const char* name) const {
    if (!mRequest.has_param(name)) return std::nullopt;
    return mRequest.get_param_value(name);
  }
  std::string mfRequired(const char* name) const {
    std::optional<std::string> text = mfText(name);
    if (!text || text->empty()) throw badRequest(std::string("parameter \"") + name + "\" is required");
    return *text;
  }
  // A whole number in [least, most], in decimal digits only.
  std::optional<CORBA::ULong> mfWhole(const char* name, CORBA::ULong least, CORBA::ULong most) const {
    std::optional<std::string> text = mfText(name);
    if (!text) return std::nullopt;
    return sfWhole(name, *text, least, most);
  }
  // A finite number of seconds.
  std::optional<double> mfSeconds(const char* name) const {
    std::optional<std::string> text = mfText(name);
    if (!text) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    if (text->empty() || std::isspace(static_cast<unsigned char>(text->front())) ||
        end != text->c_str() + text->size() || errno == ERANGE || !std::isfinite(value)) {
      throw badRequest(std::string("parameter \"") + name + "\" must be a finite number of seconds, got \"" +
                       *text + "\"");
    }
    return value;
  }

  static CORBA::ULong sfWhole(const char* name, const std::string& text, CORBA::ULong least,
                              CORBA::ULong most) {
    const std::string range = std::to_string(least) + " to " + std::to_string(most);
    unsigned long long value = 0;
    bool ok = !text.empty() && text.size() <= 10;
    for (char c : text) {
      ok = ok && c >= '0' && c <= '9';
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (!ok || value < least || value > most) {
      throw badRequest(std::string("parameter \"") + name + "\" must be a whole number from " + range +
                       ", got \"" + text + "\"");
    }
    return static_cast<CORBA::ULong>(value);
  }

private:
  const httplib::Request& mRequest;
};

Json dataErrorJson(const char* message, const char* reason, const char* place) {
  Json body{{"error", message}, {"reason", reason}};
  if (place && *place) body["place"] = place;
  return body;
}

// Runs `work`, which sets the answer; when it throws, answers the error instead as
// {"error", "reason"?, "place"?} with its status: a data error of the objects is 422 (the
// file cannot be read as asked), an unreachable server 502.
void respond(httplib::Response& response, unsigned timeoutSeconds, const std::function<void()>& work) {
  int status = 200;
  Json body;
  try {
    work();
    return;
  } catch (const HttpError& e) {
    status = e.mStatus;
    body = Json{{"error", e.mMessage}};
    if (!e.mReason.empty()) body["reason"] = e.mReason;
  } catch (const Client::NoSuchChannel& e) {
    status = 404;
    body = Json{{"error", e.what()}};
  } catch (const Client::UsageError& e) {
    status = 400;
    body = Json{{"error", e.what()}};
  } catch (const IDL::DBAccessException& e) {
    status = 422;
    body = dataErrorJson(e.message, e.reason, e.place);
  } catch (const IDL::MemAllocException& e) {
    status = 422;
    body = dataErrorJson(e.message, e.reason, e.place);
  } catch (const CORBA::TIMEOUT&) {
    status = 502;
    body = Json{{"error", "the data server did not answer within " + std::to_string(timeoutSeconds) + " s"}};
  } catch (const CORBA::TRANSIENT& e) {
    status = 502;
    body = Json{{"error", Framework::CHostOrb::sfIsTimeout(e)
                              ? "the data server did not answer within " + std::to_string(timeoutSeconds) + " s"
                              : std::string("cannot reach the data server")}};
  } catch (const CORBA::SystemException& e) {
    const char* minor = e.NP_minorString();
    status = 502;
    body = Json{{"error", std::string("the data server failed: ") + e._name() + " (" +
                              (minor ? minor : "no detail") + ")"}};
  } catch (const CORBA::Exception& e) {
    status = 500;
    body = Json{{"error", e._name()}};
  } catch (const Client::ListingTooLarge& e) {
    status = 422;
    body = Json{{"error", e.what()}};
  } catch (const std::bad_alloc&) {
    status = 503;
    body = Json{{"error", "not enough memory to answer this request"}};
  } catch (const std::exception& e) {
    status = 500;
    body = Json{{"error", e.what()}};
  }
  response.status = status;
  // Header texts need not be UTF-8: such bytes are replaced rather than failing the answer.
  response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
}

// Answers the document `make` gives, or its error (see respond).
void answer(httplib::Response& response, unsigned timeoutSeconds, const std::function<Json()>& make) {
  respond(response, timeoutSeconds, [&] {
    response.set_content(make().dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
  });
}

// The file at ACCESS_POINT/PATH; 400 for a malformed path, 404 for one the server refuses
// or does not have.
IDL::File_ptr openFile(IDL::DataServer_ptr root, const std::string& path) {
  std::string why;
  const std::optional<Client::RemoteFileName> name = Client::mfParseFileName(path, why);
  if (!name) throw badRequest("path \"" + path + "\": " + why);
  try {
    return root->open_file(name->mAccessPoint.c_str(), name->mSubDirectory.c_str(), name->mFileName.c_str());
  } catch (const IDL::DBAccessException& e) {
    throw HttpError{404, e.message.in(), e.reason.in()};
  }
}

// The channel numbers of parameter "channel" ("1,3,5"); none when it is not given.
std::vector<CORBA::ULong> channelNumbers(const Query& query) {
  std::vector<CORBA::ULong> numbers;
  if (const std::optional<std::string> list = query.mfText("channel")) {
    std::size_t from = 0;
    for (;;) {
      const std::size_t comma = list->find(',', from);
      numbers.push_back(Query::sfWhole("channel", list->substr(from, comma - from), 1,
                                       std::numeric_limits<CORBA::ULong>::max()));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
  }
  return numbers;
}

std::vector<const Client::ChannelListing*> pointersTo(const std::vector<Client::ChannelListing>& channels) {
  std::vector<const Client::ChannelListing*> pointers;
  for (const Client::ChannelListing& channel : channels) pointers.push_back(&channel);
  return pointers;
}

// The entries of `names` as {"name", "path"}, the path from the access point on.
Json entries(const IDL::StringSeq& names, const Client::RemoteFileName& directory) {
  std::string prefix = directory.mAccessPoint + "/";
  if (!directory.mSubDirectory.empty()) prefix += directory.mSubDirectory + "/";
  Json listed = Json::array();
  for (CORBA::ULong i = 0; i < names.length(); ++i) {
    listed.push_back(Json{{"name", names[i].in()}, {"path", prefix + names[i].in()}});
  }
  return listed;
}

Json filesRoute(IDL::DataServer_ptr root, const Query& query) {
  std::vector<Client::RemoteFileName> directories;
  const std::optional<std::string> dir = query.mfText("dir");
  if (dir) {
    std::string why;
    const std::optional<Client::RemoteFileName> name = Client::mfParseDirectoryName(*dir, why);
    if (!name) throw badRequest("dir \"" + *dir + "\": " + why);
    directories.push_back(*name);
  } else {
    IDL::StringSeq_var points = root->list_access_points();
    for (CORBA::ULong i = 0; i < points->length(); ++i) directories.push_back({points[i].in(), "", ""});
  }
  Json points = Json::array();
  for (const Client::RemoteFileName& directory : directories) {
    Json entry{{"name", directory.mAccessPoint}, {"directory", directory.mSubDirectory}};
    const char* ap = directory.mAccessPoint.c_str();
    const char* sub = directory.mSubDirectory.c_str();
    try {
      IDL::StringSeq_var subDirectories = root->list_directories(ap, sub);
      IDL::StringSeq_var files = root->list_files(ap, sub);
      entry["directories"] = entries(subDirectories.in(), directory);
      entry["files"] = entries(files.in(), directory);
    } catch (const IDL::DBAccessException& e) {
      // One directory asked for: it is the answer. Among all: the others still are.
      if (dir) throw HttpError{404, e.message.in(), e.reason.in()};
      entry["directories"] = Json::array();
      entry["files"] = Json::array();
      entry["error"] = e.message.in();
    }
    points.push_back(std::move(entry));
  }
  return Json{{"access_points", std::move(points)}};
}

Json fileRoute(IDL::DataServer_ptr root, const Query& query) {
  const std::string path = query.mfRequired("path");
  IDL::File_var file = openFile(root, path);
  Json listing = Client::mfListingJson(Client::mfReadListing(file));
  Json reply{{"path", path}};
  for (auto& [key, value] : listing.items()) reply[key] = std::move(value);
  return reply;
}

Json channelRoute(IDL::DataServer_ptr root, const Query& query) {
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
  IDL::File_var file = openFile(root, path);
  const std::vector<Client::ChannelListing> channel = Client::mfReadChannels(file, {*number});
  return Client::mfWindowJson(channel[0], Client::mfPlanWindow(channel[0], request));
}

Json statsRoute(IDL::DataServer_ptr root, const Query& query) {
  const std::string path = query.mfRequired("path");
  const std::vector<CORBA::ULong> numbers = channelNumbers(query);
  IDL::File_var file = openFile(root, path);
  const std::vector<Client::ChannelListing> channels = Client::mfReadChannels(file, numbers);
  const std::vector<const Client::ChannelListing*> chosen = pointersTo(channels);
  Json reply{{"path", path}};
  reply["channels"] = Client::mfStatsJson(chosen, Client::mfReadStats(chosen))["channels"];
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
  std::string mPath;
  std::string mNpyHeader;  // NPY answers: the header before the values
};

}  // namespace

CWebApi::CWebApi(IDL::DataServer_ptr root, Settings settings)
    : mRoot(IDL::DataServer::_duplicate(root)), mSettings(settings) {}

void CWebApi::mpAnswerValues(const httplib::Request& request, httplib::Response& response) const {
  respond(response, mSettings.timeoutSeconds, [&] {
    const Query query(request, {"path", "channel", "start", "count", "from", "to", "format"});
    // An answer is written once, as it is read: it has no parts to ask for.
    if (request.has_header("Range")) throw badRequest("values are not answered in ranges; ask with start and count");
    auto stream = std::make_shared<ValuesStream>();
    stream->mPath = query.mfRequired("path");
    stream->mFormat = valuesFormat(request, query);
    const std::vector<CORBA::ULong> numbers = channelNumbers(query);
    if (numbers.empty()) throw badRequest("parameter \"channel\" is required");
    const CORBA::ULong most = std::numeric_limits<CORBA::ULong>::max();
    Client::ValueRequest asked;
    asked.mStart = query.mfWhole("start", 1, most);
    asked.mCount = query.mfWhole("count", 0, most);
    asked.mFrom = query.mfSeconds("from");
    asked.mTo = query.mfSeconds("to");
    stream->mFile = openFile(mRoot.in(), stream->mPath);
    stream->mChannels = Client::mfReadChannels(stream->mFile.in(), numbers);
    const std::vector<const Client::ChannelListing*> channels = pointersTo(stream->mChannels);
    Client::mpRequireCommonTimeBase(channels);
    stream->mSelection = Client::mfSelectValues(*channels[0], asked, "start");
    const std::uint64_t values = std::uint64_t{stream->mSelection.mCount} * channels.size();
    if (values > mSettings.maxValues) {
      throw HttpError{413,
                      "the request asks for " + std::to_string(values) + " values; at most " +
                          std::to_string(mSettings.maxValues) +
                          " are answered at once (ask in pieces with start and count, or nodra-web --max-values)",
                      ""};
    }
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
    const auto write = [stream](const httplib::DataSink& sink) {
      const Client::ByteSink send = [&sink](const char* bytes, std::size_t size) {
        if (!sink.write(bytes, size)) throw std::runtime_error("the client stopped reading");
      };
      try {
        const std::vector<const Client::ChannelListing*> channels = pointersTo(stream->mChannels);
        if (stream->mFormat == ValuesFormat::eCsv) {
          Client::mpWriteCsv(send, channels, stream->mSelection, false);
        } else {
          if (stream->mFormat == ValuesFormat::eNpy) send(stream->mNpyHeader.data(), stream->mNpyHeader.size());
          Client::mpWriteFloat32(send, channels, stream->mSelection);
        }
        return true;
      } catch (const IDL::DBAccessException& e) {
        std::fprintf(stderr, "nodra-web: values of %s cut short: %s\n", stream->mPath.c_str(), e.message.in());
      } catch (const CORBA::Exception& e) {
        std::fprintf(stderr, "nodra-web: values of %s cut short: %s\n", stream->mPath.c_str(), e._name());
      } catch (const std::exception& e) {
        std::fprintf(stderr, "nodra-web: values of %s cut short: %s\n", stream->mPath.c_str(), e.what());
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

void CWebApi::mpRoute(httplib::Server& server, const std::string& webRoot) {
  using Route = Json (*)(IDL::DataServer_ptr, const Query&);
  const auto add = [this, &server](const char* pattern, Route route, std::initializer_list<const char*> known) {
    const std::set<std::string> names(known.begin(), known.end());
    server.Get(pattern, [this, route, names](const httplib::Request& request, httplib::Response& response) {
      answer(response, mSettings.timeoutSeconds, [&] { return route(mRoot.in(), Query(request, names)); });
    });
  };
  add("/api/files", filesRoute, {"dir"});
  add("/api/file", fileRoute, {"path"});
  add("/api/channel", channelRoute, {"path", "channel", "from", "to", "width"});
  add("/api/stats", statsRoute, {"path", "channel"});
  server.Get("/api/values", [this](const httplib::Request& request, httplib::Response& response) {
    mpAnswerValues(request, response);
  });
  // Anything else under /api/ is no route: say so in JSON as the routes do.
  const httplib::Server::HandlerWithResponse noRoute = [](const httplib::Request& request,
                                                         httplib::Response& response) {
    if (!response.body.empty() || request.path.rfind("/api/", 0) != 0) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    const Json body{{"error", "no such route: " + request.path}};
    response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
    return httplib::Server::HandlerResponse::Handled;
  };
  server.set_error_handler(noRoute);
  server.set_mount_point("/", webRoot);
}

}  // namespace TamblixHq::NODRA::Web
