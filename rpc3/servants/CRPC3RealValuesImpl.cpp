#include "rpc3/servants/CRPC3RealValuesImpl.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

#include "host/files/CBinaryFilePtrConnID.h"
#include "host/framework/CCallSlots.h"
#include "host/files/CFilePtrConnGuard.h"
#include "host/framework/CReplyLimit.h"
#include "host/utility/RaiseLogged.h"
#include "rpc3/format/RPC3Layout.h"
#include "rpc3/format/RPC3SampleCoding.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

using Utility::CStringU;
using Utility::raiseLogged;

namespace {

constexpr const char* kChunkPlace = "CRPC3RealValuesImpl::get_value_chunk";
constexpr const char* kFramePlace = "CRPC3RealValuesImpl::mpReadFrame";

[[noreturn]] void raiseReadError() {
  raiseLogged<IDL::MemAllocException>("Error occured while reading RPC3 file", "fread()",
                                      kFramePlace);
}

// Reads `count` stored samples of `Size` bytes, one read call each, packed into `kept`, or
// into a scratch sample when it is null. The samples the file has buffered are read with
// the cursor's unchecked read, a run at a time: with the width a constant, a run compiles
// to a copy loop. The read that leaves the buffered window refills it.
template <std::size_t Size>
void readSamples(Utility::CFileU& file, std::int64_t count, unsigned char* kept) {
  Utility::CFileU::Cursor reader(file);
  unsigned char skipped[Size];
  for (std::int64_t k = 0; k < count;) {
    const auto buffered = static_cast<std::int64_t>(reader.mfBufferedItems(Size));
    const std::int64_t end = k + std::min(count - k, buffered);
    if (kept != nullptr) {
      for (; k < end; ++k) reader.mpReadBuffered(kept + k * Size, Size);
    } else {
      for (; k < end; ++k) reader.mpReadBuffered(skipped, Size);
    }
    if (k < count) {
      if (reader.mfRead(kept != nullptr ? kept + k * Size : skipped, Size, 1) != 1) raiseReadError();
      ++k;
    }
  }
}

// Reads a frame of the channel whole, one read per sample, and decodes its samples
// [begin, end) into `out`, a batch at a time: the stored samples need no buffer of the
// chunk's size, only a small one on the stack.
template <std::size_t Size>
void readFrame(Utility::CFileU& file, std::int64_t begin, std::int64_t end, const RPC3Layout& layout,
               float scale, float* out) {
  constexpr std::int64_t kBatch = 1024;
  unsigned char batch[kBatch * Size];
  readSamples<Size>(file, begin, nullptr);
  for (std::int64_t k = begin; k < end;) {
    const std::int64_t n = std::min(kBatch, end - k);
    readSamples<Size>(file, n, batch);
    decodeSamples(batch, static_cast<std::size_t>(n), layout.dataType, layout.storageFormat, scale, out);
    out += n;
    k += n;
  }
  readSamples<Size>(file, layout.pointsPerFrame - end, nullptr);
}

}  // namespace

CRPC3RealValuesImpl::CRPC3RealValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa),
      CFunctionValuesImpl(id, poa),
      CRealValuesImpl(id, poa),
      CRPC3FunctionValuesImpl(id, poa) {}

CRPC3RealValuesImpl::~CRPC3RealValuesImpl() = default;

const CRPC3RealValuesImpl::Reading& CRPC3RealValuesImpl::mfReading() {
  std::call_once(mReadingOnce, [this] {
    IDL::ObjectId_var id = get_object_id();
    const CStringU channelText(id->index);
    Reading reading;
    reading.channelText = channelText.mfStd();
    reading.channel = channelText.mfGetLong();
    reading.layout = getLayout(*mHeader);
    reading.problem = checkLayout(reading.layout, reading.channel);
    reading.scale = getChannelScale(*mHeader, channelText);
    reading.connection.emplace(mHeader.mfGetFile());
    mReading = std::move(reading);
  });
  return mReading;
}

IDL::RealValueSeqUnion* CRPC3RealValuesImpl::get_value_chunk(CORBA::ULong start,
                                                             CORBA::ULong count) {
  const Reading& reading = mfReading();
  const RPC3Layout& layout = reading.layout;
  const std::int64_t channel = reading.channel;
  // A layout that cannot address the channel is refused before the count is looked at, so
  // that an empty window never passes for an empty channel.
  if (reading.problem) {
    raiseLogged<IDL::DBAccessException>(
        "Unable to read channel " + reading.channelText + ": " + *reading.problem,
        "invalid sample layout in header", kChunkPlace);
  }
  const float scale = reading.scale;

  IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
  CORBA::ULong first = 0;
  CORBA::ULong n = 0;
  sfClipChunk(start, count, mfGetValueCount(), first, n);
  if (n == 0) {
    result->float_sequence(IDL::FloatSeq());
    return result._retn();
  }
  Framework::CReplyLimit::sfCheck(n, sizeof(float), kChunkPlace);
  Framework::CCallSlots::Slot slot(Framework::CCallSlots::sfLargeReplies(), kChunkPlace,
                                   Framework::CCallSlots::sfIsLarge(std::uint64_t{n} * sizeof(float)));

  // The reply: bounded by the chunk.
  using Buffer = std::unique_ptr<CORBA::Float, void (*)(CORBA::Float*)>;
  Buffer owned(nullptr, IDL::FloatSeq::freebuf);
  Framework::CReplyLimit::sfSized(kChunkPlace, [&] { owned.reset(IDL::FloatSeq::allocbuf(n)); });

  const RPC3ChunkWindow window = getChunkWindow(layout.pointsPerFrame, first, n);
  {
    // A pooled handle of the header's version costs one fstat; the path is looked up only
    // when none is pooled.
    Framework::CFilePtrConnGuard guard(*reading.connection, mHeader->mfGetVersion());
    Utility::CFileU* file = guard.mfFilePtr();
    if (!file) {
      raiseLogged<IDL::DBAccessException>("File Ptr to RPC3 File is NULL",
                                          "mfFilePtr() returned NULL", kFramePlace);
    }
    // Samples are decoded only with the header of the version they are read from.
    const std::optional<Utility::CFileVersionU> version = file->mfGetSource().mfGetVersion();
    if (mHeader->mfGetVersion() && version != mHeader->mfGetVersion()) {
      raiseLogged<IDL::DBAccessException>(
          "Unable to read channel " + reading.channelText + ": " +
              CRPC3HeaderRegistry::kChangedWhileOpen + "; open the file again to read it as it is now",
          CRPC3HeaderRegistry::kChangedWhileOpen, kChunkPlace);
    }
    // A frame that does not fit in the file cannot be read: fail before reading it.
    std::int64_t frameBytes = 0;
    if (__builtin_mul_overflow(layout.pointsPerFrame, std::int64_t{layout.mfSampleSize()}, &frameBytes) ||
        frameBytes > (version ? version->mSize : file->mfGetSize())) {
      raiseReadError();
    }

    float* decoded = owned.get();
    for (std::int64_t f = window.firstFrame; f <= window.lastFrame; ++f) {
      const std::int64_t begin = window.mfBegin(f), end = window.mfEnd(f);
      const std::optional<std::int64_t> position = frameBytePosition(layout, channel, f);
      if (!position || file->mfSeek(*position, 0) != 0) raiseReadError();
      // The frames of the window that lie one after another are buffered with one read.
      std::int64_t runBytes = 0;
      if (__builtin_mul_overflow(contiguousFrames(layout, f, window.lastFrame), frameBytes, &runBytes)) {
        runBytes = INT64_MAX;
      }
      file->mpPrefetch(runBytes);
      if (layout.dataType == eShortInteger) {
        readFrame<2>(*file, begin, end, layout, scale, decoded);
      } else {
        readFrame<4>(*file, begin, end, layout, scale, decoded);
      }
      decoded += end - begin;
    }
  }
  // The sequence takes the buffer over; the union's setter would copy it.
  result->float_sequence(IDL::FloatSeq());
  result->float_sequence().replace(n, n, owned.release(), true);
  return result._retn();
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
