// Raising a user exception the way every servant does: printed to the default logger
// first (as a detail: the client hears of it anyway), then thrown.
#pragma once

#include <string>

#include "host/utility/CLoggerU.h"

namespace TamblixHq::NODRA::Utility {

// E is DBAccessException or MemAllocException, built from (message, reason, place).
template <class E>
[[noreturn]] void raiseLogged(const std::string& message, const std::string& reason,
                              const std::string& place) {
  E e(message.c_str(), reason.c_str(), place.c_str());
  CLoggerU::sfGetLoggerU(0)->mpPrint(e, CLoggerU::kDetail, 1);
  throw e;
}

}  // namespace TamblixHq::NODRA::Utility
