#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "host/utility/CFdByteSourceU.h"
#include "host/utility/CFileU.h"
#include "host/utility/CMemoryByteSourceU.h"
#include "tests/support/ScratchDir.h"

using namespace TamblixHq::NODRA::Utility;

namespace {

std::uint8_t fByteAt(std::int64_t offset) {
  const auto o = static_cast<std::uint64_t>(offset);
  return static_cast<std::uint8_t>((o * 7 + 3) ^ (o >> 16) ^ (o >> 32));
}

std::vector<std::uint8_t> fPattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = fByteAt(static_cast<std::int64_t>(i));
  return bytes;
}

// Synthesises fByteAt over a given size and counts calls; a read stops short of failFrom
// and a read starting there fails, as a disk error would.
class CFakeSource : public CByteSourceU {
public:
  explicit CFakeSource(std::int64_t size, std::int64_t failFrom = std::numeric_limits<std::int64_t>::max())
      : mSize(size), mFailFrom(failFrom) {}
  std::int64_t mfReadAt(std::int64_t offset, void* buffer, std::size_t n) const override {
    ++mCalls;
    if (offset < 0 || offset >= mFailFrom) return -1;
    if (offset >= mSize) return 0;
    const std::int64_t count =
        std::min({static_cast<std::int64_t>(n), mSize - offset, mFailFrom - offset});
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::int64_t i = 0; i < count; ++i) out[i] = fByteAt(offset + i);
    return count;
  }
  std::int64_t mfGetSize() const override { return mSize; }
  int mfCalls() const { return mCalls; }

private:
  std::int64_t mSize;
  std::int64_t mFailFrom;
  mutable std::atomic<int> mCalls{0};
};

const CFakeSource& fFake(const CFileU& file) { return dynamic_cast<const CFakeSource&>(file.mfGetSource()); }

}  // namespace

TEST(CFileU, ReadCountsWholeItemsAndSeeksLikeStdio) {
  CFileU file(std::make_unique<CMemoryByteSourceU>(fPattern(10)), 4);
  EXPECT_EQ(file.mfGetSize(), 10);
  std::uint8_t out[16] = {};

  EXPECT_EQ(file.mfRead(out, 4, 3), 2u);  // 8 bytes whole, 2 bytes of a partial item
  EXPECT_EQ(file.mfTell(), 10);           // ... consumed all the same
  EXPECT_EQ(std::memcmp(out, fPattern(10).data(), 10), 0);
  EXPECT_EQ(file.mfRead(out, 1, 1), 0u);
  EXPECT_FALSE(file.mfHasError());

  EXPECT_EQ(file.mfSeek(-2, 2), 0);
  EXPECT_EQ(file.mfTell(), 8);
  EXPECT_EQ(file.mfRead(out, 2, 1), 1u);
  EXPECT_EQ(out[0], fByteAt(8));
  EXPECT_EQ(file.mfSeek(-5, 1), 0);
  EXPECT_EQ(file.mfTell(), 5);
  EXPECT_EQ(file.mfRead(out, 0, 3), 0u);
  EXPECT_EQ(file.mfRead(out, 3, 0), 0u);
  EXPECT_EQ(file.mfTell(), 5);

  // Refused seeks leave the position alone.
  EXPECT_EQ(file.mfSeek(-6, 1), -1);
  EXPECT_EQ(file.mfSeek(-1, 0), -1);
  EXPECT_EQ(file.mfSeek(0, 3), -1);
  EXPECT_EQ(file.mfSeek(std::numeric_limits<std::int64_t>::max(), 1), -1);  // overflow
  EXPECT_EQ(file.mfTell(), 5);

  // Past the end: allowed, reads give nothing.
  EXPECT_EQ(file.mfSeek(100, 0), 0);
  EXPECT_EQ(file.mfTell(), 100);
  EXPECT_EQ(file.mfRead(out, 1, 4), 0u);
  EXPECT_EQ(file.mfTell(), 100);
  file.mpRewind();
  EXPECT_EQ(file.mfTell(), 0);
  EXPECT_EQ(file.mfRead(out, 1, 1), 1u);
  EXPECT_EQ(out[0], fByteAt(0));

  // A request whose byte count overflows size_t reads the whole items that exist.
  std::vector<std::uint8_t> all(10);
  file.mpRewind();
  EXPECT_EQ(file.mfRead(all.data(), 2, std::numeric_limits<std::size_t>::max()), 5u);
  EXPECT_EQ(all, fPattern(10));
}

TEST(CFileU, SmallReadsAndSeeksInsideTheWindowDoNotReachTheSource) {
  CFileU file(std::make_unique<CFakeSource>(64), 16);
  std::uint16_t sample = 0;
  for (int i = 0; i < 32; ++i) {
    ASSERT_EQ(file.mfRead(&sample, 2, 1), 1u);
    std::uint8_t expected[2] = {fByteAt(2 * i), fByteAt(2 * i + 1)};
    EXPECT_EQ(std::memcmp(&sample, expected, 2), 0) << "sample " << i;
  }
  EXPECT_EQ(fFake(file).mfCalls(), 4);  // one fill per 16 bytes

  // Back into the current window [48, 64): no fill.
  EXPECT_EQ(file.mfSeek(50, 0), 0);
  std::uint32_t value = 0;
  EXPECT_EQ(file.mfRead(&value, 4, 1), 1u);
  EXPECT_EQ(fFake(file).mfCalls(), 4);
  // Outside it: one fill, then the window serves again.
  EXPECT_EQ(file.mfSeek(3, 0), 0);
  EXPECT_EQ(file.mfRead(&value, 4, 1), 1u);
  EXPECT_EQ(file.mfRead(&value, 4, 1), 1u);
  EXPECT_EQ(fFake(file).mfCalls(), 5);
  std::uint8_t expected[4] = {fByteAt(7), fByteAt(8), fByteAt(9), fByteAt(10)};
  EXPECT_EQ(std::memcmp(&value, expected, 4), 0);
  // A rewind keeps the buffer too.
  file.mpRewind();
  EXPECT_EQ(file.mfSeek(5, 0), 0);
  EXPECT_EQ(file.mfRead(&value, 4, 1), 1u);
  EXPECT_EQ(fFake(file).mfCalls(), 5);
}

TEST(CFileU, PrefetchFillsJustTheBytesAskedOnce) {
  CFileU file(std::make_unique<CFakeSource>(100), 32);
  ASSERT_EQ(file.mfSeek(10, 0), 0);
  file.mpPrefetch(6);
  EXPECT_EQ(fFake(file).mfCalls(), 1);
  std::uint8_t got[6] = {};
  ASSERT_EQ(file.mfRead(got, 1, 6), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], fByteAt(10 + i));
  EXPECT_EQ(fFake(file).mfCalls(), 1);
  // Just those bytes were buffered: the next byte needs a fill of its own.
  ASSERT_EQ(file.mfRead(got, 1, 1), 1u);
  EXPECT_EQ(got[0], fByteAt(16));
  EXPECT_EQ(fFake(file).mfCalls(), 2);

  // Bytes buffered already are not read again; more than the buffer holds fills it.
  ASSERT_EQ(file.mfSeek(20, 0), 0);
  file.mpPrefetch(4);
  EXPECT_EQ(fFake(file).mfCalls(), 2);
  ASSERT_EQ(file.mfSeek(60, 0), 0);
  file.mpPrefetch(1000);
  EXPECT_EQ(fFake(file).mfCalls(), 3);
  std::uint8_t window[32] = {};
  ASSERT_EQ(file.mfRead(window, 32, 1), 1u);
  EXPECT_EQ(window[31], fByteAt(91));
  EXPECT_EQ(fFake(file).mfCalls(), 3);

  // At the end of the data, reads past it still give 0 items and keep the position.
  ASSERT_EQ(file.mfSeek(98, 0), 0);
  file.mpPrefetch(8);
  std::uint32_t word = 0;
  EXPECT_EQ(file.mfRead(&word, 4, 1), 0u);
  EXPECT_EQ(file.mfTell(), 100);
}

// The cursor reads exactly as the file does, across windows, at the end and on errors,
// and hands its position back to the file.
TEST(CFileU, CursorReadsAsTheFileDoes) {
  for (std::size_t bufferSize : {std::size_t{0}, std::size_t{7}, std::size_t{16}}) {
    CFileU plain(std::make_unique<CFakeSource>(90, 80), bufferSize);
    CFileU cursored(std::make_unique<CFakeSource>(90, 80), bufferSize);
    std::int64_t position = 0;
    for (std::size_t item : {1, 2, 4, 2, 3, 8, 2, 2, 4, 16, 2, 4, 4, 2, 8, 8, 4, 4, 8, 2}) {
      std::uint8_t a[16] = {}, b[16] = {};
      const std::size_t fromPlain = plain.mfRead(a, item, 1);
      std::size_t fromCursor;
      {
        CFileU::Cursor cursor(cursored);
        fromCursor = cursor.mfRead(b, item, 1);
      }
      ASSERT_EQ(fromCursor, fromPlain) << "item of " << item << " at " << position;
      if (fromPlain == 1) {
        EXPECT_EQ(std::memcmp(a, b, item), 0) << "at " << position;
      }
      ASSERT_EQ(cursored.mfTell(), plain.mfTell());
      EXPECT_EQ(cursored.mfHasError(), plain.mfHasError());
      position = plain.mfTell();
    }
    EXPECT_TRUE(plain.mfHasError()) << "the reads reach the failing offset";
  }
  // Many reads through one cursor, then the file goes on where it stopped.
  CFileU file(std::make_unique<CFakeSource>(64), 16);
  {
    CFileU::Cursor cursor(file);
    std::uint16_t sample = 0;
    for (int i = 0; i < 20; ++i) {
      ASSERT_EQ(cursor.mfRead(&sample, 2, 1), 1u);
      const std::uint8_t expected[2] = {fByteAt(2 * i), fByteAt(2 * i + 1)};
      ASSERT_EQ(std::memcmp(&sample, expected, 2), 0) << "sample " << i;
    }
  }
  EXPECT_EQ(file.mfTell(), 40);
  std::uint8_t next = 0;
  ASSERT_EQ(file.mfRead(&next, 1, 1), 1u);
  EXPECT_EQ(next, fByteAt(40));

  // The buffered items are counted whole, and read unchecked in order.
  {
    CFileU::Cursor cursor(file);  // at 41; the window is [32, 48)
    ASSERT_EQ(cursor.mfBufferedItems(2), 3u);
    ASSERT_EQ(cursor.mfBufferedItems(4), 1u);
    std::uint8_t pair[2];
    for (int i = 0; i < 3; ++i) {
      cursor.mpReadBuffered(pair, 2);
      EXPECT_EQ(pair[0], fByteAt(41 + 2 * i));
      EXPECT_EQ(pair[1], fByteAt(42 + 2 * i));
    }
    EXPECT_EQ(cursor.mfBufferedItems(2), 0u);
  }
  EXPECT_EQ(file.mfTell(), 47);
}

TEST(CFileU, ReadsAcrossWindowsAndLargeReadsReturnTheRightBytes) {
  const std::vector<std::uint8_t> bytes = fPattern(100);
  CFileU file(std::make_unique<CFakeSource>(100), 16);
  std::vector<std::uint8_t> out(100);

  // Straddling the window end: part from the buffer, part from a refill.
  EXPECT_EQ(file.mfSeek(14, 0), 0);
  EXPECT_EQ(file.mfRead(out.data(), 1, 1), 1u);  // window [14, 30)
  EXPECT_EQ(file.mfSeek(28, 0), 0);
  EXPECT_EQ(file.mfRead(out.data(), 4, 1), 1u);
  EXPECT_EQ(std::memcmp(out.data(), bytes.data() + 28, 4), 0);
  EXPECT_EQ(file.mfTell(), 32);

  // Larger than the buffer: what is buffered, then straight from the source.
  const int callsBefore = fFake(file).mfCalls();
  EXPECT_EQ(file.mfSeek(20, 0), 0);
  EXPECT_EQ(file.mfRead(out.data(), 1, 50), 50u);
  EXPECT_EQ(std::memcmp(out.data(), bytes.data() + 20, 50), 0);
  EXPECT_EQ(file.mfTell(), 70);
  EXPECT_EQ(fFake(file).mfCalls() - callsBefore, 1);

  // Large read running into the end.
  EXPECT_EQ(file.mfSeek(60, 0), 0);
  EXPECT_EQ(file.mfRead(out.data(), 8, 10), 5u);
  EXPECT_EQ(std::memcmp(out.data(), bytes.data() + 60, 40), 0);
  EXPECT_EQ(file.mfTell(), 100);

  // Unbuffered file: every request goes to the source and still counts items right.
  CFileU direct(std::make_unique<CMemoryByteSourceU>(bytes), 0);
  EXPECT_EQ(direct.mfSeek(97, 0), 0);
  EXPECT_EQ(direct.mfRead(out.data(), 2, 2), 1u);
  EXPECT_EQ(direct.mfTell(), 100);
  EXPECT_EQ(out[0], bytes[97]);
}

TEST(CFileU, SourceErrorsStopTheReadAndAreReported) {
  CFileU file(std::make_unique<CFakeSource>(64, 8), 4);
  std::uint8_t out[16];
  EXPECT_EQ(file.mfRead(out, 4, 4), 2u);
  EXPECT_TRUE(file.mfHasError());
  EXPECT_EQ(file.mfTell(), 8);
  file.mpRewind();
  EXPECT_FALSE(file.mfHasError());
  EXPECT_EQ(file.mfRead(out, 4, 2), 2u);
  EXPECT_FALSE(file.mfHasError());

  CMemoryByteSourceU memory(fPattern(4));
  EXPECT_EQ(memory.mfReadAt(-1, out, 1), -1);
  EXPECT_EQ(memory.mfReadAt(4, out, 1), 0);
  EXPECT_EQ(memory.mfReadAt(2, out, 10), 2);
  EXPECT_EQ(memory.mfReadAt(std::numeric_limits<std::int64_t>::max(), out, 10), 0);
}

TEST(CFileU, OffsetsBeyondFourGibibytesAreAddressed) {
  constexpr std::int64_t kGiB = std::int64_t{1} << 30;
  constexpr std::int64_t kSize = 6 * kGiB + 5;
  CFileU file(std::make_unique<CFakeSource>(kSize));
  EXPECT_EQ(file.mfGetSize(), kSize);

  std::uint8_t out[8];
  const std::int64_t at = 5 * kGiB + 3;
  ASSERT_EQ(file.mfSeek(at, 0), 0);
  ASSERT_EQ(file.mfRead(out, 4, 2), 2u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], fByteAt(at + i)) << i;
  EXPECT_EQ(file.mfTell(), at + 8);

  // A 32-bit wrap of 4 GiB + 1 would land on offset 1.
  ASSERT_EQ(file.mfSeek(-(at + 8) + 4 * kGiB + 1, 1), 0);
  EXPECT_EQ(file.mfTell(), 4 * kGiB + 1);
  ASSERT_EQ(file.mfRead(out, 2, 1), 1u);
  EXPECT_EQ(out[0], fByteAt(4 * kGiB + 1));
  EXPECT_EQ(out[1], fByteAt(4 * kGiB + 2));
  EXPECT_NE(fByteAt(4 * kGiB + 1), fByteAt(1));  // the pattern tells the two apart

  ASSERT_EQ(file.mfSeek(-3, 2), 0);
  EXPECT_EQ(file.mfTell(), kSize - 3);
  EXPECT_EQ(file.mfRead(out, 4, 1), 0u);
  EXPECT_EQ(file.mfTell(), kSize);
}

TEST(CFileU, DescriptorSourceReadsARealFile) {
  nodra::test::ScratchDir scratch;
  const std::vector<std::uint8_t> bytes = fPattern(5000);
  const std::string path = scratch.mfWriteFile("data.bin", bytes);

  std::string error;
  auto source = CFdByteSourceU::sfOpen(path, &error);
  ASSERT_NE(source, nullptr) << error;
  CFileU file(std::move(source), 1024);
  EXPECT_EQ(file.mfGetSize(), 5000);
  std::vector<std::uint8_t> out(6000);
  EXPECT_EQ(file.mfSeek(100, 0), 0);
  EXPECT_EQ(file.mfRead(out.data(), 3, 2000), 1633u);
  EXPECT_EQ(std::memcmp(out.data(), bytes.data() + 100, 4900), 0);
  EXPECT_EQ(file.mfTell(), 5000);

  error.clear();
  EXPECT_EQ(CFdByteSourceU::sfOpen(scratch.mfFile("missing.bin"), &error), nullptr);
  EXPECT_FALSE(error.empty());
  CFdByteSourceU closed(-1);
  EXPECT_EQ(closed.mfReadAt(0, out.data(), 1), -1);
  EXPECT_EQ(closed.mfGetSize(), -1);
}
