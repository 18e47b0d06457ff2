#include "host/framework/CReplyLimit.h"

#include <omniORB4/omniORB.h>

#include <string>

#include "host/utility/RaiseLogged.h"

namespace TamblixHq::NODRA::Framework {

CORBA::ULong CReplyLimit::sfMaxValues(CORBA::ULong maxMessage, std::size_t valueSize) {
  if (maxMessage <= kOverhead || valueSize == 0) return 0;
  // No larger than the message itself, so it always fits the result type.
  return static_cast<CORBA::ULong>((maxMessage - kOverhead) / valueSize);
}

CORBA::ULong CReplyLimit::sfMaxValuesPerReply(std::size_t valueSize) {
  return sfMaxValues(omniORB::giopMaxMsgSize(), valueSize);
}

void CReplyLimit::sfCheck(CORBA::ULong count, std::size_t valueSize, const char* place) {
  const CORBA::ULong limit = sfMaxValuesPerReply(valueSize);
  if (count <= limit) return;
  Utility::raiseLogged<::TAMBLIX::NODRA::Framework::DBAccessException>(
      "Too many values requested: " + std::to_string(count) +
          " values do not fit in one reply (at most " + std::to_string(limit) +
          "); read in smaller chunks",
      "count exceeds the largest reply", place);
}

void CReplyLimit::sfRaiseOutOfMemory(const char* place) {
  Utility::raiseLogged<::TAMBLIX::NODRA::Framework::MemAllocException>(
      "Memory allocation failed: no memory for the reply", "out of memory", place);
}

}  // namespace TamblixHq::NODRA::Framework
