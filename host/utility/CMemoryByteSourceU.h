// Byte source over bytes held in memory, for tests and fuzz targets.
// Immutable after construction, so safe to share between threads.
#pragma once

#include <cstdint>
#include <vector>

#include "host/utility/CByteSourceU.h"

namespace TamblixHq::NODRA::Utility {

class CMemoryByteSourceU : public CByteSourceU {
public:
  explicit CMemoryByteSourceU(std::vector<std::uint8_t> bytes);

  std::int64_t mfReadAt(std::int64_t offset, void* buffer, std::size_t n) const override;
  std::int64_t mfGetSize() const override;
  const std::vector<std::uint8_t>& mfGetBytes() const;

private:
  const std::vector<std::uint8_t> mBytes;
};

}  // namespace TamblixHq::NODRA::Utility
