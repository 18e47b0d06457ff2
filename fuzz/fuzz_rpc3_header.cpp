// Fuzz target: any bytes as the start of an RPC III file. The header reader must either
// refuse them with its exception or give a header whose lookups and sample layout
// arithmetic stay defined, without reading or allocating beyond what the bytes justify.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/utility/CFileU.h"
#include "host/utility/CLoggerU.h"
#include "host/utility/CMemoryByteSourceU.h"
#include "rpc3/format/CRPC3Header.h"
#include "rpc3/format/RPC3SampleCoding.h"

namespace RPC3 = TamblixHq::NODRA::Drivers::RPC3;
namespace Utility = TamblixHq::NODRA::Utility;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (Utility::CLoggerU::sfGetLoggerU(0)->mpSetEnabled(false), true);
  (void)quiet;
  Utility::CFileU file(std::make_unique<Utility::CMemoryByteSourceU>(
      std::vector<std::uint8_t>(data, data + size)));
  try {
    RPC3::CRPC3Header header(file, "fuzz");
    RPC3::RPC3Layout layout;
    layout.headerBlocks = header.mfGetKeywordValue("NUM_HEADER_BLOCKS").mfGetLong();
    layout.channels = header.mfGetKeywordValue("CHANNELS").mfGetLong();
    layout.pointsPerFrame = header.mfGetKeywordValue("PTS_PER_FRAME").mfGetLong();
    layout.pointsPerGroup = header.mfGetKeywordValue("PTS_PER_GROUP").mfGetLong();
    const int width = header.mfGetDataType() == RPC3::eShortInteger ? 2 : 4;
    (void)header.mfGetStorageFormat();
    (void)header.mfGetKeywordValue("SCALE.CHAN_1").mfGetDouble();
    const std::int64_t frames = header.mfGetKeywordValue("FRAMES").mfGetLong();
    for (std::int64_t channel : {std::int64_t{1}, layout.channels}) {
      if (RPC3::checkLayout(layout, channel)) continue;
      for (std::int64_t frame : {std::int64_t{1}, frames, std::int64_t{1} << 31}) {
        if (frame >= 1) (void)RPC3::frameBytePosition(layout, channel, frame, width);
      }
    }
  } catch (const ::TAMBLIX::NODRA::Framework::DBAccessException&) {
  }
  return 0;
}
