// What the routes of the viewer's API share: errors with their HTTP status, checked query
// parameters, the answer of a route or its error as JSON, and files opened by path.
#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "apps/web/HttpError.h"
#include "clients/cpp/Failure.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Web {

namespace IDL = ::TAMBLIX::NODRA::Framework;
using Json = nlohmann::ordered_json;

HttpError badRequest(const std::string& message);

// The query parameters of a request, each one the route knows and each given at most once,
// but those named `repeatable`. Throws HttpError (400) otherwise.
class Query {
public:
  Query(const httplib::Request& request, const std::set<std::string>& known,
        const std::set<std::string>& repeatable = {});

  std::optional<std::string> mfText(const char* name) const;
  // The text; 400 when it is missing or empty.
  std::string mfRequired(const char* name) const;
  // A whole number in [least, most], in decimal digits only.
  std::optional<CORBA::ULong> mfWhole(const char* name, CORBA::ULong least, CORBA::ULong most) const;
  // A finite number of seconds.
  std::optional<double> mfSeconds(const char* name) const;
  // A finite number; a list of them, separated by commas.
  std::optional<double> mfNumber(const char* name) const;
  std::optional<std::vector<double>> mfNumbers(const char* name) const;
  const httplib::Request& mfRequest() const { return mRequest; }

  static CORBA::ULong sfWhole(const char* name, const std::string& text, CORBA::ULong least, CORBA::ULong most);
  // `text` as a finite number; 400 naming it "a finite number" + `what` otherwise.
  static double sfNumber(const char* name, const std::string& text, const char* what = "");

private:
  const httplib::Request& mRequest;
};

// The HTTP status of a failure of `kind`.
int httpStatus(::TamblixHq::NODRA::Client::FailureKind kind);

// Runs `work`, which sets the answer; when it throws, answers the error instead as
// {"error", "reason"?, "place"?} with its status: 400 for a usage error, 404 for a channel
// the file does not have, 422 for a data error of the objects (the file cannot be read as
// asked), 502 for a data server that cannot be reached or does not answer within
// `timeoutSeconds`, 503 when memory runs out. A request whose client left gets no answer.
void respond(httplib::Response& response, unsigned timeoutSeconds, const std::function<void()>& work);

// Answers the document `make` gives, or its error (see respond).
void answer(httplib::Response& response, unsigned timeoutSeconds, const std::function<Json()>& make);

// The file at ACCESS_POINT/PATH; 400 for a malformed path, 404 for one the server refuses
// or does not have.
IDL::File_ptr openFile(IDL::DataServer_ptr root, const std::string& path);

// The channel numbers of parameter "channel" ("1,3,5"); none when it is not given.
std::vector<CORBA::ULong> channelNumbers(const Query& query);

}  // namespace TamblixHq::NODRA::Web
