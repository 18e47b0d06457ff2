// What went wrong, from an exception: its kind and the sentence a user reads. The programs
// turn the kind into an exit status, the viewer's routes into an HTTP status.
#pragma once

#include <exception>
#include <string>

namespace TamblixHq::NODRA::Client {

enum class FailureKind {
  kUsage,        // the request cannot be carried out as given
  kNotFound,     // a channel the file does not have
  kData,         // the file cannot be read as asked
  kUnreachable,  // the data server cannot be reached or does not answer in time
  kServer,       // the data server failed the call
  kUnavailable,  // memory or the catalogue ran out or failed
  kOutputClosed, // the reader of the output left
  kInternal,     // anything else: a fault of ours
};

struct Failure {
  FailureKind mKind = FailureKind::kInternal;
  std::string mMessage;  // one sentence, without the program's name
  std::string mReason;   // a data error's reason
  std::string mPlace;    // where the data objects failed (for --verbose and JSON only)
};

// What the call was made to, for the sentences of unreachable servers.
struct FailureContext {
  std::string mServer;  // URL of the data server; empty: the program's own objects
  unsigned mTimeoutSeconds = 0;
};

// Classifies `error` (from std::current_exception() in a catch (...)). Knows the usage and
// listing errors of this library, the catalogue's, the data objects' exceptions and the
// ORB's system exceptions.
Failure mfClassifyFailure(std::exception_ptr error, const FailureContext& context);

// 2 for a usage error or a missing channel, 1 for every other failure.
int mfExitStatus(FailureKind kind);

// The line a program prints: the message, then "(reason: ...)" when the reason adds to it,
// and with `verbose` "[at PLACE]".
std::string mfFailureLine(const Failure& failure, bool verbose);

}  // namespace TamblixHq::NODRA::Client
