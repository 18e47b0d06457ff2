#include "host/utility/CFileU.h"

#include <limits>
#include <utility>

namespace TamblixHq::NODRA::Utility {

CFileU::CFileU(std::unique_ptr<CByteSourceU> source, std::size_t bufferSize)
    : mSource(std::move(source)), mCapacity(bufferSize) {}

int CFileU::mfSeek(std::int64_t offset, int origin) {
  std::int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = mPosition; break;
    case 2:
      base = mfGetSize();
      if (base < 0) return -1;
      break;
    default: return -1;
  }
  std::int64_t result;
  if (__builtin_add_overflow(base, offset, &result) || result < 0) return -1;
  mPosition = result;
  return 0;
}

void CFileU::mpPrefetch(std::int64_t bytes) {
  if (mCapacity == 0 || bytes <= 0) return;
  const auto wanted = static_cast<std::uint64_t>(bytes) < mCapacity ? bytes : static_cast<std::int64_t>(mCapacity);
  if (mPosition >= mBufferStart && mPosition <= mBufferEnd && mBufferEnd - mPosition >= wanted) return;
  if (mBuffer.size() != mCapacity) mBuffer.resize(mCapacity);
  const std::int64_t got = mSource->mfReadAt(mPosition, mBuffer.data(), static_cast<std::size_t>(wanted));
  mBufferStart = mPosition;
  // A failed read leaves nothing buffered; the reads that follow meet the error themselves.
  mBufferEnd = got > 0 ? mPosition + got : mPosition;
}

std::int64_t CFileU::mfTell() const { return mPosition; }

std::int64_t CFileU::mfGetSize() const { return mSource->mfGetSize(); }

void CFileU::mpRewind() {
  mPosition = 0;
  mError = false;
}

bool CFileU::mfHasError() const { return mError; }

const CByteSourceU& CFileU::mfGetSource() const { return *mSource; }

bool CFileU::mfFill(std::int64_t position) {
  if (mBuffer.size() != mCapacity) mBuffer.resize(mCapacity);
  const std::int64_t got = mSource->mfReadAt(position, mBuffer.data(), mCapacity);
  mBufferStart = position;
  if (got < 0) {
    mError = true;
    mBufferEnd = position;
    return false;
  }
  mBufferEnd = position + got;
  return got > 0;
}

std::size_t CFileU::mfReadSlow(void* buffer, std::size_t bytes) {
  // Offsets stay representable: never read beyond the largest int64 position.
  const auto room = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - mPosition);
  if (bytes > room) bytes = static_cast<std::size_t>(room);

  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < bytes) {
    const std::size_t remaining = bytes - done;
    if (mPosition >= mBufferStart && mPosition < mBufferEnd) {
      const auto available = static_cast<std::uint64_t>(mBufferEnd - mPosition);
      const std::size_t n = available < remaining ? static_cast<std::size_t>(available) : remaining;
      std::memcpy(out + done, mBuffer.data() + (mPosition - mBufferStart), n);
      done += n;
      mPosition += static_cast<std::int64_t>(n);
    } else if (remaining >= mCapacity) {
      // Too large to gain from the buffer: straight into the caller's memory.
      const std::int64_t got = mSource->mfReadAt(mPosition, out + done, remaining);
      if (got < 0) mError = true;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
      mPosition += got;
    } else if (!mfFill(mPosition)) {
      break;
    }
  }
  return done;
}

}  // namespace TamblixHq::NODRA::Utility
