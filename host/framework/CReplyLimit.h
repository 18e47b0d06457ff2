// How many values one reply may carry: the ORB's largest message less room for the
// headers, divided by the width of a value, and the check that refuses larger replies
// before they are built. Stateless; safe to use from any thread.
#pragma once

#include <cstddef>
#include <new>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

class CReplyLimit {
public:
  // Bytes of a message kept for the message and reply headers and a union's discriminant.
  static constexpr CORBA::ULong kOverhead = 4096;

  // Largest number of values of `valueSize` bytes that fit in a message of `maxMessage`
  // bytes; 0 when no value fits or the width is 0.
  static CORBA::ULong sfMaxValues(CORBA::ULong maxMessage, std::size_t valueSize);
  // The same for the largest message the ORB is set to send (giopMaxMsgSize).
  static CORBA::ULong sfMaxValuesPerReply(std::size_t valueSize);

  // Refuses, with a logged DBAccessException naming `place`, a reply of `count` values
  // of `valueSize` bytes that one message cannot carry.
  static void sfCheck(CORBA::ULong count, std::size_t valueSize, const char* place);

  // Runs `size`, which sizes a reply's buffer, and turns running out of memory into a
  // logged MemAllocException naming `place`: the ORB's allocbuf and length() throw
  // std::bad_alloc rather than answer null.
  template <typename Size>
  static decltype(auto) sfSized(const char* place, Size&& size) {
    try {
      return size();
    } catch (const std::bad_alloc&) {
      sfRaiseOutOfMemory(place);
    }
  }
  [[noreturn]] static void sfRaiseOutOfMemory(const char* place);
};

}  // namespace TamblixHq::NODRA::Framework
