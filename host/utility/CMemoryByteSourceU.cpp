#include "host/utility/CMemoryByteSourceU.h"

#include <cstring>
#include <utility>

namespace TamblixHq::NODRA::Utility {

CMemoryByteSourceU::CMemoryByteSourceU(std::vector<std::uint8_t> bytes) : mBytes(std::move(bytes)) {}

std::int64_t CMemoryByteSourceU::mfReadAt(std::int64_t offset, void* buffer, std::size_t n) const {
  if (offset < 0) return -1;
  const auto size = static_cast<std::uint64_t>(mBytes.size());
  const auto start = static_cast<std::uint64_t>(offset);
  if (start >= size || n == 0) return 0;
  const std::uint64_t available = size - start;
  const std::size_t count = available < n ? static_cast<std::size_t>(available) : n;
  std::memcpy(buffer, mBytes.data() + start, count);
  return static_cast<std::int64_t>(count);
}

std::int64_t CMemoryByteSourceU::mfGetSize() const { return static_cast<std::int64_t>(mBytes.size()); }

const std::vector<std::uint8_t>& CMemoryByteSourceU::mfGetBytes() const { return mBytes; }

}  // namespace TamblixHq::NODRA::Utility
