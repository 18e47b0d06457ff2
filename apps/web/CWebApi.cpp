#include "apps/web/CWebApi.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <limits>
#include <new>
#include <optional>
#include <set>
#include <vector>

#include "apps/client/ChannelStats.h"
#include "apps/client/ChannelWindow.h"
#include "apps/client/FileListing.h"
#include "apps/client/FileSource.h"
#include "apps/client/ListingOutput.h"
#include "apps/web/RainflowRoute.h"
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

// Runs `make` and answers its document, or the error it raised with its status: a data
// error of the objects is 422 (the file cannot be read as asked), an unreachable server 502.
void answer(httplib::Response& response, unsigned timeoutSeconds, const std::function<Json()>& make) {
  int status = 200;
  Json body;
  try {
    body = make();
  } catch (const HttpError& e) {
    status = e.mStatus;
    body = Json{{"error", e.mMessage}};
    if (!e.mReason.empty()) body["reason"] = e.mReason;
  } catch (const Client::UsageError& e) {
    status = 400;
    body = Json{{"error", e.what()}};
  } catch (const IDL::DBAccessException& e) {
    status = 422;
    body = Json{{"error", e.message.in()}, {"reason", e.reason.in()}};
  } catch (const IDL::MemAllocException& e) {
    status = 422;
    body = Json{{"error", e.message.in()}, {"reason", e.reason.in()}};
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

// Channel `number` of `file`; 404 when the file has no such channel.
Client::ChannelListing readChannel(IDL::File_ptr file, CORBA::ULong number) {
  std::optional<Client::ChannelListing> channel = Client::mfReadChannel(file, number);
  if (!channel) {
    throw HttpError{404, "channel " + std::to_string(number) + " does not exist (the file has " +
                             std::to_string(file->get_number_of_children()) + " channels)", ""};
  }
  return std::move(*channel);
}

Json listDirectory(IDL::DataServer_ptr root, const Client::RemoteFileName& directory) {
  IDL::StringSeq_var names = root->list_files(directory.mAccessPoint.c_str(), directory.mSubDirectory.c_str());
  std::string prefix = directory.mAccessPoint + "/";
  if (!directory.mSubDirectory.empty()) prefix += directory.mSubDirectory + "/";
  Json files = Json::array();
  for (CORBA::ULong i = 0; i < names->length(); ++i) {
    files.push_back(Json{{"name", names[i].in()}, {"path", prefix + names[i].in()}});
  }
  return files;
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
    try {
      entry["files"] = listDirectory(root, directory);
    } catch (const IDL::DBAccessException& e) {
      // One directory asked for: it is the answer. Among all: the others still are.
      if (dir) throw HttpError{404, e.message.in(), e.reason.in()};
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
  const Client::ChannelListing channel = readChannel(file, *number);
  return Client::mfWindowJson(channel, Client::mfPlanWindow(channel, request));
}

Json statsRoute(IDL::DataServer_ptr root, const Query& query) {
  const std::string path = query.mfRequired("path");
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
  Client::mpRefuseRepeatedChannels(numbers);
  IDL::File_var file = openFile(root, path);
  std::vector<Client::ChannelListing> channels;
  if (numbers.empty()) {
    channels = Client::mfReadListing(file).mChannels;
  } else {
    for (CORBA::ULong number : numbers) channels.push_back(readChannel(file, number));
  }
  std::vector<const Client::ChannelListing*> chosen;
  for (const Client::ChannelListing& channel : channels) chosen.push_back(&channel);
  Json reply{{"path", path}};
  reply["channels"] = Client::mfStatsJson(chosen, Client::mfReadStats(chosen))["channels"];
  return reply;
}

}  // namespace

CWebApi::CWebApi(IDL::DataServer_ptr root, unsigned timeoutSeconds)
    : mRoot(IDL::DataServer::_duplicate(root)), mTimeoutSeconds(timeoutSeconds) {}

void CWebApi::mpRoute(httplib::Server& server, const std::string& webRoot) {
  using Route = Json (*)(IDL::DataServer_ptr, const Query&);
  const auto add = [this, &server](const char* pattern, Route route, std::initializer_list<const char*> known) {
    const std::set<std::string> names(known.begin(), known.end());
    server.Get(pattern, [this, route, names](const httplib::Request& request, httplib::Response& response) {
      answer(response, mTimeoutSeconds, [&] { return route(mRoot.in(), Query(request, names)); });
    });
  };
  add("/api/files", filesRoute, {"dir"});
  add("/api/file", fileRoute, {"path"});
  add("/api/channel", channelRoute, {"path", "channel", "from", "to", "width"});
  add("/api/stats", statsRoute, {"path", "channel"});
  mpAddRainflowRoute(server, mRoot.in(), mTimeoutSeconds);
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
