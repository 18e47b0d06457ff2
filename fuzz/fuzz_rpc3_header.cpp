// Fuzz target: any bytes as the start of an RPC III file. The file-type detector and the
// header reader must take them without harm, and the reader must either refuse them with
// its exception or give a header whose layout, value count and frame arithmetic stay
// defined, without reading or allocating beyond what the bytes justify; the record listing
// succeeds exactly when the reader does.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "host/utility/CFileU.h"
#include "host/utility/CLoggerU.h"
#include "host/utility/CMemoryByteSourceU.h"
#include "rpc3/format/CRPC3Header.h"
#include "rpc3/format/RPC3HeaderRecords.h"
#include "rpc3/format/RPC3Layout.h"

namespace RPC3 = TamblixHq::NODRA::Drivers::RPC3;
namespace Utility = TamblixHq::NODRA::Utility;

namespace {

Utility::CFileU fileOf(const std::uint8_t* data, std::size_t size) {
  return Utility::CFileU(std::make_unique<Utility::CMemoryByteSourceU>(
      std::vector<std::uint8_t>(data, data + size)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (Utility::CLoggerU::sfGetLoggerU(0)->mpSetEnabled(false), true);
  (void)quiet;
  Utility::CFileU sniffed = fileOf(data, size);
  (void)RPC3::looksLikeRPC3File(sniffed);
  // The listing of the records a person asks for reads exactly what the header reads.
  Utility::CFileU listed = fileOf(data, size);
  const auto records = RPC3::listHeaderRecords(listed, 0);
  Utility::CFileU file = fileOf(data, size);
  try {
    RPC3::CRPC3Header header(file, "fuzz");
    if (!records || static_cast<std::int64_t>(records->size()) < header.mfGetCountedRecords()) std::abort();
    const RPC3::RPC3Layout layout = RPC3::getLayout(header);
    (void)RPC3::getChannelScale(header, "1");
    const std::uint64_t values = RPC3::getNumberOfValues(header);
    const std::int64_t frames = header.mfGetKeywordValue("FRAMES").mfGetLong();
    for (std::int64_t channel : {std::int64_t{1}, layout.channels}) {
      if (RPC3::checkLayout(layout, channel)) continue;
      for (std::int64_t frame : {std::int64_t{1}, frames, std::int64_t{1} << 31}) {
        if (frame >= 1) (void)RPC3::frameBytePosition(layout, channel, frame);
      }
      if (values > 0) {
        const auto count = static_cast<std::int64_t>(std::min<std::uint64_t>(values, INT64_MAX));
        const RPC3::RPC3ChunkWindow window = RPC3::getChunkWindow(layout.pointsPerFrame, 1, count);
        if (window.lastFrame < window.firstFrame) std::abort();
      }
    }
  } catch (const ::TAMBLIX::NODRA::Framework::DBAccessException&) {
    if (records) std::abort();
  }
  return 0;
}
