#include "apps/web/RainflowRoute.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "analysis/Rainflow.h"
#include "apps/client/ChannelRainflow.h"
#include "apps/client/FileListing.h"
#include "apps/client/FileSource.h"
#include "host/framework/CHostOrb.h"

namespace TamblixHq::NODRA::Web {

namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
namespace Client = ::TamblixHq::NODRA::Client;
namespace Analysis = ::TamblixHq::NODRA::Analysis;
using Json = nlohmann::ordered_json;

struct HttpError {
  int mStatus;
  std::string mMessage;
  std::string mReason;
};

HttpError badRequest(const std::string& message) { return HttpError{400, message, ""}; }

// Parameters the route knows; each once, but "path", which names one file each time.
const std::set<std::string> kKnown{"path", "channel", "classes", "range", "gate", "method", "slope",
                                   "reference_range", "reference_cycles", "max_cycles"};

std::optional<std::string> text(const httplib::Request& request, const char* name) {
  if (!request.has_param(name)) return std::nullopt;
  return request.get_param_value(name);
}

double number(const char* name, const std::string& value) {
  errno = 0;
  char* end = nullptr;
  const double parsed = std::strtod(value.c_str(), &end);
  if (value.empty() || std::isspace(static_cast<unsigned char>(value.front())) ||
      end != value.c_str() + value.size() || errno == ERANGE || !std::isfinite(parsed)) {
    throw badRequest(std::string("parameter \"") + name + "\" must be a finite number, got \"" + value + "\"");
  }
  return parsed;
}

std::vector<double> numbers(const char* name, const std::string& value) {
  std::vector<double> list;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = value.find(',', from);
    list.push_back(number(name, value.substr(from, comma == std::string::npos ? std::string::npos : comma - from)));
    if (comma == std::string::npos) return list;
    from = comma + 1;
  }
}

unsigned long whole(const char* name, const std::string& value, unsigned long least, unsigned long most) {
  unsigned long long parsed = 0;
  bool ok = !value.empty() && value.size() <= 10;
  for (char c : value) {
    ok = ok && c >= '0' && c <= '9';
    parsed = parsed * 10 + static_cast<unsigned>(c - '0');
  }
  if (!ok || parsed < least || parsed > most) {
    throw badRequest(std::string("parameter \"") + name + "\" must be a whole number from " + std::to_string(least) +
                     " to " + std::to_string(most) + ", got \"" + value + "\"");
  }
  return static_cast<unsigned long>(parsed);
}

Json count(IDL::DataServer_ptr root, const httplib::Request& request) {
  for (const auto& [name, value] : request.params) {
    if (kKnown.count(name) == 0) throw badRequest("unknown parameter \"" + name + "\"");
    if (name != "path" && request.get_param_value_count(name) > 1) {
      throw badRequest("parameter \"" + name + "\" is given twice");
    }
  }
  const std::size_t paths = request.get_param_value_count("path");
  if (paths == 0) throw badRequest("parameter \"path\" is required");
  constexpr std::size_t kMaxFiles = 1000;
  if (paths > kMaxFiles) throw badRequest("at most " + std::to_string(kMaxFiles) + " files a request");
  const std::optional<std::string> channelText = text(request, "channel");
  if (!channelText) throw badRequest("parameter \"channel\" is required");
  const auto channel = static_cast<CORBA::ULong>(whole("channel", *channelText, 1, 4294967295ul));

  Analysis::RainflowSettings settings;
  if (auto v = text(request, "classes")) settings.mClasses = whole("classes", *v, 1, Analysis::kMaxClasses);
  if (auto v = text(request, "range")) {
    const std::vector<double> range = numbers("range", *v);
    if (range.size() != 2) throw badRequest("parameter \"range\" takes MIN,MAX, got \"" + *v + "\"");
    settings.mHasRange = true;
    settings.mRangeMin = range[0];
    settings.mRangeMax = range[1];
  }
  if (auto v = text(request, "gate")) settings.mGate = number("gate", *v);
  if (auto v = text(request, "method")) {
    if (*v != "astm" && *v != "four-point") {
      throw badRequest("parameter \"method\" is astm or four-point, got \"" + *v + "\"");
    }
    settings.mMethod = *v == "four-point" ? Analysis::RainflowMethod::kFourPoint : Analysis::RainflowMethod::kAstm;
  }
  if (auto v = text(request, "slope")) settings.mSlopes = numbers("slope", *v);
  if (auto v = text(request, "reference_range")) settings.mReferenceRange = number("reference_range", *v);
  if (auto v = text(request, "reference_cycles")) settings.mReferenceCycles = number("reference_cycles", *v);
  if (auto v = text(request, "max_cycles")) {
    settings.mMaxCycles = whole("max_cycles", *v, 0, Analysis::kMaxListedCycles);
  }
  const std::string problem = Analysis::mfSettingsProblem(settings);
  if (!problem.empty()) throw badRequest(problem);

  std::vector<Client::RainflowSource> sources;
  std::vector<IDL::File_var> files;
  for (std::size_t i = 0; i < paths; ++i) {
    const Client::RainflowSource source = Client::mfParseRainflowSource(request.get_param_value("path", i));
    std::string why;
    const std::optional<Client::RemoteFileName> name = Client::mfParseFileName(source.mFile, why);
    if (!name) throw badRequest("path \"" + source.mFile + "\": " + why);
    IDL::File_var file;
    try {
      file = root->open_file(name->mAccessPoint.c_str(), name->mSubDirectory.c_str(), name->mFileName.c_str());
    } catch (const IDL::DBAccessException& e) {
      throw HttpError{404, e.message.in(), e.reason.in()};
    }
    if (!Client::mfReadChannel(file.in(), channel)) {
      throw HttpError{404, "channel " + std::to_string(channel) + " does not exist in " + source.mFile +
                               " (the file has " + std::to_string(file->get_number_of_children()) + " channels)",
                      ""};
    }
    sources.push_back(source);
    files.push_back(file);
  }
  return Client::mfRainflowJson(Client::mfCountRainflow(files, sources, channel, settings));
}

// The answer, or the error with its status as the other routes give it.
void answer(httplib::Response& response, unsigned timeoutSeconds, IDL::DataServer_ptr root,
            const httplib::Request& request) {
  int status = 200;
  Json body;
  const std::string late = "the data server did not answer within " + std::to_string(timeoutSeconds) + " s";
  try {
    body = count(root, request);
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
    body = Json{{"error", late}};
  } catch (const CORBA::TRANSIENT& e) {
    status = 502;
    body = Json{{"error", Framework::CHostOrb::sfIsTimeout(e) ? late : std::string("cannot reach the data server")}};
  } catch (const CORBA::SystemException& e) {
    const char* minor = e.NP_minorString();
    status = 502;
    body = Json{{"error", std::string("the data server failed: ") + e._name() + " (" + (minor ? minor : "no detail") + ")"}};
  } catch (const CORBA::Exception& e) {
    status = 500;
    body = Json{{"error", e._name()}};
  } catch (const std::bad_alloc&) {
    status = 503;
    body = Json{{"error", "not enough memory to answer this request"}};
  } catch (const std::exception& e) {
    status = 500;
    body = Json{{"error", e.what()}};
  }
  response.status = status;
  response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
}

}  // namespace

void mpAddRainflowRoute(httplib::Server& server, IDL::DataServer_ptr root, unsigned timeoutSeconds) {
  IDL::DataServer_var kept = IDL::DataServer::_duplicate(root);
  server.Get("/api/rainflow", [kept, timeoutSeconds](const httplib::Request& request, httplib::Response& response) {
    answer(response, timeoutSeconds, kept.in(), request);
  });
}

}  // namespace TamblixHq::NODRA::Web
