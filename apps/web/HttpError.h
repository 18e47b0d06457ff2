// An answer other than the one asked for: a request refused or cut short, with its HTTP
// status, the sentence that says why and, for a data error, its reason.
#pragma once

#include <string>

namespace TamblixHq::NODRA::Web {

// A request answered with `mStatus` and {"error": mMessage[, "reason": mReason]}.
struct HttpError {
  int mStatus;
  std::string mMessage;
  std::string mReason;
};

// The client closed its connection: nobody reads an answer, so none is made.
struct ClientGone {};

}  // namespace TamblixHq::NODRA::Web
