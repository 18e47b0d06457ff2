// Random-access reader of "n bytes at an offset": the seam through which CFileU reads, so
// that the format code can run on files, memory or synthetic data alike.
// Implementations must allow concurrent mfReadAt calls on one object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "host/utility/CFileVersionU.h"

namespace TamblixHq::NODRA::Utility {

class CByteSourceU {
public:
  virtual ~CByteSourceU() = default;
  // Reads up to n bytes at offset into buffer; returns the bytes read, fewer than n only
  // at the end of the data (0 at or past the end), or -1 on an error or a negative offset.
  virtual std::int64_t mfReadAt(std::int64_t offset, void* buffer, std::size_t n) const = 0;
  // Size in bytes, -1 when it cannot be learnt.
  virtual std::int64_t mfGetSize() const = 0;
  // The version of the file read, as it was when the source was made; nullopt for sources
  // that are not files.
  virtual std::optional<CFileVersionU> mfGetVersion() const { return std::nullopt; }
  // The version of the file read as it is now; nullopt for sources that are not files or
  // when it cannot be learnt.
  virtual std::optional<CFileVersionU> mfGetCurrentVersion() const { return std::nullopt; }
};

}  // namespace TamblixHq::NODRA::Utility
