// Fuzz target: chunks of channels read from an RPC III file in memory, the way the values
// object reads them. The input is two window requests (8 bytes each: channel, first value
// and count, little-endian) followed by the file. The header is read from the file; each
// request's channel is checked against the layout, its frames located, read and decoded.
// Only the driver's own exceptions may leave the header reader and the layout functions.
// Checked besides: a window covers exactly the values asked for, frames never overlap
// each other or the frames of the next channel, and a chunk decodes to the same values as
// its values read one at a time.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/utility/CFileU.h"
#include "host/utility/CLoggerU.h"
#include "host/utility/CMemoryByteSourceU.h"
#include "rpc3/format/CRPC3Header.h"
#include "rpc3/format/RPC3Layout.h"
#include "rpc3/format/RPC3SampleCoding.h"

namespace RPC3 = TamblixHq::NODRA::Drivers::RPC3;
namespace Utility = TamblixHq::NODRA::Utility;
namespace IDL = ::TAMBLIX::NODRA::Framework;

namespace {

constexpr std::size_t kRequests = 2;
constexpr std::size_t kRequestSize = 8;
constexpr std::int64_t kMaxCount = 256;   // values per window, so that a run stays short
constexpr std::int64_t kSingleChecks = 32;  // values of a window also read one at a time

std::uint32_t little(const std::uint8_t* b, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint32_t>(b[i]) << (8 * i);
  return value;
}

// Reads and decodes `count` values of `channel` from value `first`; false where the values
// object would refuse: a frame without a byte position or beyond the end of the file.
bool readWindow(Utility::CFileU& file, const RPC3::RPC3Layout& layout, std::int64_t channel,
                std::int64_t first, std::int64_t count, float scale, std::vector<float>& out) {
  const std::int64_t P = layout.pointsPerFrame;
  const auto sampleSize = static_cast<std::int64_t>(layout.mfSampleSize());
  std::int64_t frameBytes = 0;
  if (__builtin_mul_overflow(P, sampleSize, &frameBytes) || frameBytes > file.mfGetSize()) return false;

  const RPC3::RPC3ChunkWindow window = RPC3::getChunkWindow(P, first, count);
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(frameBytes));
  std::vector<std::uint8_t> samples;  // packed as stored
  for (std::int64_t f = window.firstFrame; f <= window.lastFrame; ++f) {
    const std::int64_t begin = window.mfBegin(f), end = window.mfEnd(f);
    if (begin < 0 || end > P || begin >= end) std::abort();  // a frame that adds nothing
    const auto position = RPC3::frameBytePosition(layout, channel, f);
    if (!position) return false;
    if (*position < layout.headerBlocks * 512) std::abort();  // inside the header
    // The next frame of the channel, and this frame of the next channel, start at least
    // a frame's bytes away.
    for (const auto& [c, g] : {std::pair{channel, f + 1}, std::pair{channel + 1, f}}) {
      if (c > layout.channels) continue;
      const auto other = RPC3::frameBytePosition(layout, c, g);
      if (!other) continue;
      const std::int64_t gap = *other > *position ? *other - *position : *position - *other;
      if (gap < frameBytes) std::abort();
    }
    if (file.mfSeek(*position, 0) != 0 || file.mfRead(frame.data(), frame.size(), 1) != 1) return false;
    samples.insert(samples.end(), frame.begin() + begin * sampleSize, frame.begin() + end * sampleSize);
  }
  const auto values = static_cast<std::int64_t>(samples.size()) / sampleSize;
  if (values != count) std::abort();  // the window missed values
  out.resize(static_cast<std::size_t>(values));
  RPC3::decodeSamples(samples.data(), out.size(), layout.dataType, layout.storageFormat, scale, out.data());
  return true;
}

void readRequest(Utility::CFileU& file, const RPC3::CRPC3Header& header, const std::uint8_t* request) {
  const RPC3::RPC3Layout layout = RPC3::getLayout(header);
  // Channels 0 and C + 1 are asked for too: the layout check must refuse them.
  const std::int64_t span = std::clamp<std::int64_t>(layout.channels, 0, 1 << 16) + 2;
  const std::int64_t channel = little(request, 2) % span;
  if (RPC3::checkLayout(layout, channel)) return;
  if (channel < 1 || channel > layout.channels) std::abort();

  // The interface counts values in 32 bits.
  const std::uint64_t values = std::min<std::uint64_t>(RPC3::getNumberOfValues(header), UINT32_MAX);
  if (values == 0) return;
  const std::int64_t first = 1 + static_cast<std::int64_t>(little(request + 2, 4) % values);
  const std::int64_t count = std::min<std::int64_t>(1 + little(request + 6, 2) % kMaxCount,
                                                    static_cast<std::int64_t>(values) - first + 1);
  const float scale = RPC3::getChannelScale(header, Utility::CStringU(std::to_string(channel)));

  std::vector<float> chunk;
  if (!readWindow(file, layout, channel, first, count, scale, chunk)) return;
  std::vector<float> single;
  for (std::int64_t i = 0; i < std::min(count, kSingleChecks); ++i) {
    if (!readWindow(file, layout, channel, first + i, 1, scale, single) ||
        std::memcmp(&single[0], &chunk[i], sizeof(float)) != 0) {
      std::abort();  // a value read alone differs from the same value in the chunk
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (Utility::CLoggerU::sfGetLoggerU(0)->mpSetEnabled(false), true);
  (void)quiet;
  constexpr std::size_t kRequestBytes = kRequests * kRequestSize;
  if (size < kRequestBytes) return 0;
  Utility::CFileU file(std::make_unique<Utility::CMemoryByteSourceU>(
      std::vector<std::uint8_t>(data + kRequestBytes, data + size)));
  try {
    const RPC3::CRPC3Header header(file, "fuzz");
    for (std::size_t r = 0; r < kRequests; ++r) readRequest(file, header, data + r * kRequestSize);
  } catch (const IDL::DBAccessException&) {
  } catch (const IDL::MemAllocException&) {
  }
  return 0;
}
