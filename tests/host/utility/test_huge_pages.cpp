// Huge-page buffers: aligned to 2 MiB, as long as asked or longer, and none for a size no
// rounding can hold.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "host/utility/HugePagesU.h"

namespace nodra::test {
namespace {

using namespace TamblixHq::NODRA::Utility;

TEST(HugePages, AreAlignedWholeAndRefusedBeyondWhatRoundingHolds) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  for (std::size_t bytes : {std::size_t{1}, kHuge - 1, kHuge, kHuge + 1, 3 * kHuge}) {
    SCOPED_TRACE(bytes);
    void* memory = mfTakeHugePages(bytes);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % kHuge, 0u);
    std::memset(memory, 0x5a, bytes);  // every byte asked for is there (ASan would say)
    mpGiveHugePages(memory);
  }
  EXPECT_EQ(mfTakeHugePages(SIZE_MAX), nullptr);
  EXPECT_EQ(mfTakeHugePages(SIZE_MAX - kHuge + 2), nullptr);
}

}  // namespace
}  // namespace nodra::test
