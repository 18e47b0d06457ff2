// How many values one reply may carry, and the refusal of larger replies.

#include <gtest/gtest.h>

#include <limits>
#include <new>
#include <string>

#include "host/framework/CReplyLimit.h"

namespace {

using TamblixHq::NODRA::Framework::CReplyLimit;

TEST(CReplyLimit, WholeValuesThatFitAfterTheOverheadWithoutOverflow) {
  EXPECT_EQ(CReplyLimit::sfMaxValues(8388608, 4), 2096128u);  // 8 MiB less 4 KiB
  EXPECT_EQ(CReplyLimit::sfMaxValues(8388608, 256), 32752u);
  EXPECT_EQ(CReplyLimit::sfMaxValues(4096 + 15, 8), 1u);
  EXPECT_EQ(CReplyLimit::sfMaxValues(4096 + 16, 8), 2u);
  for (CORBA::ULong atOrBelowOverhead : {0u, 1u, 4095u, 4096u})
    EXPECT_EQ(CReplyLimit::sfMaxValues(atOrBelowOverhead, 1), 0u) << atOrBelowOverhead;
  EXPECT_EQ(CReplyLimit::sfMaxValues(4097, 1), 1u);
  EXPECT_EQ(CReplyLimit::sfMaxValues(8388608, 0), 0u);
  const CORBA::ULong largest = std::numeric_limits<CORBA::ULong>::max();
  EXPECT_EQ(CReplyLimit::sfMaxValues(largest, 1), largest - 4096u);
  EXPECT_EQ(CReplyLimit::sfMaxValues(largest, std::numeric_limits<std::size_t>::max()), 0u);
}

TEST(CReplyLimit, CheckRefusesOneValueMoreThanTheOrbsMessagesCarry) {
  const CORBA::ULong limit = CReplyLimit::sfMaxValuesPerReply(sizeof(double));
  ASSERT_GT(limit, 0u);
  EXPECT_NO_THROW(CReplyLimit::sfCheck(limit, sizeof(double), "here"));
  EXPECT_NO_THROW(CReplyLimit::sfCheck(limit + 1, sizeof(float), "here"));
  try {
    CReplyLimit::sfCheck(limit + 1, sizeof(double), "Values::get_value_chunk");
    ADD_FAILURE() << "one value too many was accepted";
  } catch (const TAMBLIX::NODRA::Framework::DBAccessException& e) {
    EXPECT_NE(std::string(e.message).find("at most " + std::to_string(limit)), std::string::npos)
        << e.message;
    EXPECT_STREQ(e.place, "Values::get_value_chunk");
  }
}

TEST(CReplyLimit, RunningOutOfMemoryWhileSizingAReplyIsTheInterfacesException) {
  EXPECT_EQ(CReplyLimit::sfSized("here", [] { return 7; }), 7);
  try {
    CReplyLimit::sfSized("Values::get_value_chunk", []() -> int { throw std::bad_alloc(); });
    ADD_FAILURE() << "bad_alloc passed through";
  } catch (const TAMBLIX::NODRA::Framework::MemAllocException& e) {
    EXPECT_STREQ(e.reason, "out of memory");
    EXPECT_STREQ(e.place, "Values::get_value_chunk");
  }
}

}  // namespace
