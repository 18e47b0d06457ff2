#include "apps/web/RouteSupport.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

#include "clients/cpp/Failure.h"
#include "clients/cpp/FileListing.h"
#include "clients/cpp/FileSource.h"
#include "clients/cpp/ListingOutput.h"

namespace TamblixHq::NODRA::Web {

namespace Client = ::TamblixHq::NODRA::Client;

HttpError badRequest(const std::string& message) { return HttpError{400, message, ""}; }

Query::Query(const httplib::Request& request, const std::set<std::string>& known,
             const std::set<std::string>& repeatable)
    : mRequest(request) {
  for (const auto& [name, value] : request.params) {
    if (known.count(name) == 0) throw badRequest("unknown parameter \"" + name + "\"");
    if (repeatable.count(name) == 0 && request.get_param_value_count(name) > 1) {
      throw badRequest("parameter \"" + name + "\" is given twice");
    }
  }
  // The HTTP library keeps one of equal NAME=VALUE pairs: a repeatable parameter given the
  // same value twice would be read once, silently. Counted in the query as sent.
  const std::size_t question = request.target.find('?');
  if (repeatable.empty() || question == std::string::npos) return;
  std::map<std::string, std::size_t> sent;
  for (std::size_t at = question + 1; at <= request.target.size();) {
    std::size_t end = request.target.find('&', at);
    if (end == std::string::npos) end = request.target.size();
    const std::string pair = request.target.substr(at, end - at);
    ++sent[httplib::detail::decode_url(pair.substr(0, pair.find('=')), true)];
    at = end + 1;
  }
  for (const std::string& name : repeatable) {
    if (sent[name] > request.get_param_value_count(name)) {
      throw badRequest("parameter \"" + name + "\" gives the same value twice; it would be read once");
    }
  }
}

std::optional<std::string> Query::mfText(const char* name) const {
  if (!mRequest.has_param(name)) return std::nullopt;
  return mRequest.get_param_value(name);
}

std::string Query::mfRequired(const char* name) const {
  std::optional<std::string> text = mfText(name);
  if (!text || text->empty()) throw badRequest(std::string("parameter \"") + name + "\" is required");
  return *text;
}

std::optional<CORBA::ULong> Query::mfWhole(const char* name, CORBA::ULong least, CORBA::ULong most) const {
  std::optional<std::string> text = mfText(name);
  if (!text) return std::nullopt;
  return sfWhole(name, *text, least, most);
}

std::optional<double> Query::mfSeconds(const char* name) const {
  std::optional<std::string> text = mfText(name);
  if (!text) return std::nullopt;
  return sfNumber(name, *text, " of seconds");
}

std::optional<double> Query::mfNumber(const char* name) const {
  std::optional<std::string> text = mfText(name);
  if (!text) return std::nullopt;
  return sfNumber(name, *text);
}

std::optional<std::vector<double>> Query::mfNumbers(const char* name) const {
  std::optional<std::string> text = mfText(name);
  if (!text) return std::nullopt;
  std::vector<double> list;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = text->find(',', from);
    list.push_back(sfNumber(name, text->substr(from, comma == std::string::npos ? std::string::npos : comma - from)));
    if (comma == std::string::npos) return list;
    from = comma + 1;
  }
}

double Query::sfNumber(const char* name, const std::string& text, const char* what) {
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())) ||
      end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) {
    throw badRequest(std::string("parameter \"") + name + "\" must be a finite number" + what + ", got \"" + text +
                     "\"");
  }
  return value;
}

CORBA::ULong Query::sfWhole(const char* name, const std::string& text, CORBA::ULong least, CORBA::ULong most) {
  const std::string range = std::to_string(least) + " to " + std::to_string(most);
  unsigned long long value = 0;
  bool ok = !text.empty() && text.size() <= 10;
  for (char c : text) {
    ok = ok && c >= '0' && c <= '9';
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (!ok || value < least || value > most) {
    throw badRequest(std::string("parameter \"") + name + "\" must be a whole number from " + range + ", got \"" +
                     text + "\"");
  }
  return static_cast<CORBA::ULong>(value);
}

int httpStatus(Client::FailureKind kind) {
  switch (kind) {
    case Client::FailureKind::kUsage: return 400;
    case Client::FailureKind::kNotFound: return 404;
    case Client::FailureKind::kData: return 422;
    case Client::FailureKind::kUnreachable:
    case Client::FailureKind::kServer: return 502;
    case Client::FailureKind::kUnavailable:
    case Client::FailureKind::kOutputClosed: return 503;
    case Client::FailureKind::kInternal: break;
  }
  return 500;
}

void respond(httplib::Response& response, unsigned timeoutSeconds, const std::function<void()>& work) {
  int status = 200;
  Json body;
  try {
    work();
    return;
  } catch (const ClientGone&) {
    status = 503;
    body = Json{{"error", "the client left"}};
  } catch (const HttpError& e) {
    status = e.mStatus;
    body = Json{{"error", e.mMessage}};
    if (!e.mReason.empty()) body["reason"] = e.mReason;
  } catch (...) {
    const Client::Failure failure = Client::mfClassifyFailure(std::current_exception(), {"", timeoutSeconds});
    status = httpStatus(failure.mKind);
    body = Json{{"error", failure.mMessage}};
    if (!failure.mReason.empty()) body["reason"] = failure.mReason;
    if (!failure.mPlace.empty()) body["place"] = failure.mPlace;
  }
  response.status = status;
  // Header texts need not be UTF-8: such bytes are replaced rather than failing the answer.
  response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
}

void answer(httplib::Response& response, unsigned timeoutSeconds, const std::function<Json()>& make) {
  respond(response, timeoutSeconds, [&] {
    response.set_content(make().dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
  });
}

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

}  // namespace TamblixHq::NODRA::Web
