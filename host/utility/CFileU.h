// Read-only random-access binary file with its own read buffer, reading through a
// CByteSourceU. Small reads inside the buffered window cost one memcpy, so a decoder may
// read one sample per call. One user at a time: not safe to share between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "host/utility/CByteSourceU.h"

namespace TamblixHq::NODRA::Utility {

class CFileU {
public:
  // REQUIRES: source is not null. bufferSize 0 reads every request straight from the source.
  explicit CFileU(std::unique_ptr<CByteSourceU> source, std::size_t bufferSize = 64 * 1024);
  CFileU(const CFileU&) = delete;
  CFileU& operator=(const CFileU&) = delete;

  // origin 0: from the start, 1: from the current position, 2: from the end. Returns 0, or
  // -1 (position unchanged) when the result would be negative or cannot be computed.
  // A position past the end is allowed; reads there return 0 items. Keeps the buffer.
  int mfSeek(std::int64_t offset, int origin);
  // Reads itemCount items of itemSize bytes; returns the number of whole items read (as
  // fread). The position advances by every byte consumed, a partial trailing item included.
  std::size_t mfRead(void* buffer, std::size_t itemSize, std::size_t itemCount);
  // Buffers the next `bytes` bytes from the position (no more than the buffer holds) with
  // one read, unless they are buffered already. For a reader that knows how far it will
  // read: one fill of just those bytes instead of a buffer's worth of bytes it skips.
  void mpPrefetch(std::int64_t bytes);
  std::int64_t mfTell() const;
  std::int64_t mfGetSize() const;  // -1 when the source cannot tell
  // Position 0; clears the error flag. The buffer is kept: the data do not change while open.
  void mpRewind();
  // True when a read since the last mpRewind stopped on a source error rather than the end.
  bool mfHasError() const;
  const CByteSourceU& mfGetSource() const;

  class Cursor;

private:
  std::size_t mfReadSlow(void* buffer, std::size_t bytes);
  bool mfFill(std::int64_t position);

  std::unique_ptr<CByteSourceU> mSource;
  std::vector<std::uint8_t> mBuffer;  // allocated on the first buffered read
  std::size_t mCapacity;
  std::int64_t mBufferStart = 0;  // file offset of mBuffer[0]
  std::int64_t mBufferEnd = 0;    // one past the last valid buffered byte
  std::int64_t mPosition = 0;
  bool mError = false;
};

// Reads at the file's position for a decoder's inner loop of small reads: the position and
// the buffered window are held in the cursor, in registers once inlined, rather than in the
// file, whose fields a byte copy might alias and so must store and reload each time. Reads
// exactly as CFileU::mfRead; the position goes back to the file when the cursor ends.
// While it lives, read the file only through it.
class CFileU::Cursor {
public:
  explicit Cursor(CFileU& file) : mFile(file) { mpLoad(); }
  ~Cursor() { mpStore(); }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  std::size_t mfRead(void* buffer, std::size_t itemSize, std::size_t itemCount) {
    std::size_t bytes;
    if (!__builtin_mul_overflow(itemSize, itemCount, &bytes) && bytes != 0 && bytes <= mAvailable) {
      std::memcpy(buffer, mNext, bytes);
      mNext += bytes;
      mAvailable -= bytes;
      return itemCount;
    }
    mpStore();
    const std::size_t items = mFile.mfRead(buffer, itemSize, itemCount);
    mpLoad();
    return items;
  }

  // Whole items of `itemSize` bytes buffered from the position on: the next that many
  // reads of that size can be made with mpReadBuffered.
  std::size_t mfBufferedItems(std::size_t itemSize) const { return mAvailable / itemSize; }
  // Reads one item that mfBufferedItems counts as buffered: a copy and an advance, with
  // nothing to check, so that a loop of them is a plain copy loop the compiler vectorises.
  void mpReadBuffered(void* buffer, std::size_t itemSize) {
    std::memcpy(buffer, mNext, itemSize);
    mNext += itemSize;
    mAvailable -= itemSize;
  }

private:
  // The buffered bytes from the file's position on: none when the position lies outside
  // the buffered window.
  void mpLoad() {
    mPosition = mFile.mPosition;
    const bool inside = mPosition >= mFile.mBufferStart && mPosition <= mFile.mBufferEnd;
    mNext = inside ? mFile.mBuffer.data() + (mPosition - mFile.mBufferStart) : nullptr;
    mAvailable = inside ? static_cast<std::size_t>(mFile.mBufferEnd - mPosition) : 0;
    mFirst = mNext;
  }
  void mpStore() { mFile.mPosition = mPosition + (mNext - mFirst); }

  CFileU& mFile;
  std::int64_t mPosition = 0;              // the file's position when loaded
  const std::uint8_t* mFirst = nullptr;    // the byte at mPosition, when buffered
  const std::uint8_t* mNext = nullptr;     // the byte at the cursor's position
  std::size_t mAvailable = 0;              // buffered bytes from mNext on
};

inline std::size_t CFileU::mfRead(void* buffer, std::size_t itemSize, std::size_t itemCount) {
  std::size_t bytes;
  if (__builtin_mul_overflow(itemSize, itemCount, &bytes)) {
    // No caller's buffer holds that much; read as many whole items as a size_t counts.
    bytes = (static_cast<std::size_t>(-1) / itemSize) * itemSize;
  } else if (bytes == 0) {
    return 0;
  } else if (mPosition >= mBufferStart && mPosition <= mBufferEnd &&
             static_cast<std::uint64_t>(mBufferEnd - mPosition) >= bytes) {
    // Hot path: the whole request lies in the buffered window.
    std::memcpy(buffer, mBuffer.data() + (mPosition - mBufferStart), bytes);
    mPosition += static_cast<std::int64_t>(bytes);
    return itemCount;
  }
  return mfReadSlow(buffer, bytes) / itemSize;
}

}  // namespace TamblixHq::NODRA::Utility
