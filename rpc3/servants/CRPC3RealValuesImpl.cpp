#include "rpc3/servants/CRPC3RealValuesImpl.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

#include "host/framework/CBinaryFilePtrConnID.h"
#include "host/framework/CFilePtrConnGuard.h"
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

// Reads `count` stored samples of type Stored (std::int16_t or std::int32_t), one read call
// each, into the slots of `kept`, or into one scratch slot when it is null. The sample
// width is a constant here and the cursor keeps the position in a register, so a buffered
// read inlines to a load and a store.
template <typename Stored>
void readSamples(Utility::CFileU& file, std::int64_t count, tuFrameData* kept) {
  Utility::CFileU::Cursor reader(file);
  tuFrameData skipped;
  for (std::int64_t k = 0; k < count; ++k) {
    tuFrameData* slot = kept != nullptr ? &kept[k] : &skipped;
    if (reader.mfRead(slot->bytes, sizeof(Stored), 1) != 1) raiseReadError();
  }
}

// Reads a frame of the channel whole, one read per sample, and decodes its samples
// [begin, end) into `out`, a batch at a time: the stored samples need no buffer of the
// chunk's size, only a small one on the stack.
template <typename Stored>
void readFrame(Utility::CFileU& file, std::int64_t begin, std::int64_t end, const RPC3Layout& layout,
               float scale, float* out) {
  constexpr std::int64_t kBatch = 1024;
  tuFrameData batch[kBatch];
  readSamples<Stored>(file, begin, nullptr);
  for (std::int64_t k = begin; k < end;) {
    const std::int64_t n = std::min(kBatch, end - k);
    readSamples<Stored>(file, n, batch);
    decodeSamples(batch, static_cast<std::size_t>(n), layout.dataType, layout.storageFormat, scale, out);
    out += n;
    k += n;
  }
  readSamples<Stored>(file, layout.pointsPerFrame - end, nullptr);
}

}  // namespace

CRPC3RealValuesImpl::CRPC3RealValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa),
      CFunctionValuesImpl(id, poa),
      CRealValuesImpl(id, poa),
      CRPC3FunctionValuesImpl(id, poa) {}

CRPC3RealValuesImpl::~CRPC3RealValuesImpl() = default;

IDL::RealValueSeqUnion* CRPC3RealValuesImpl::get_value_chunk(CORBA::ULong start,
                                                             CORBA::ULong count) {
  IDL::ObjectId_var id = get_object_id();
  const CStringU channelText(id->index);
  const std::int64_t channel = channelText.mfGetLong();
  // The layout is looked up on every call: nothing is cached between calls. A layout that
  // cannot address the channel is refused before the count is looked at, so that an empty
  // window never passes for an empty channel.
  const RPC3Layout layout = getLayout(*mHeader);
  if (auto problem = checkLayout(layout, channel)) {
    raiseLogged<IDL::DBAccessException>(
        "Unable to read channel " + channelText.mfStd() + ": " + *problem,
        "invalid sample layout in header", kChunkPlace);
  }
  const float scale = getChannelScale(*mHeader, channelText);

  IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
  CORBA::ULong first = 0;
  CORBA::ULong n = 0;
  sfClipChunk(start, count, mfGetValueCount(), first, n);
  if (n == 0) {
    result->float_sequence(IDL::FloatSeq());
    return result._retn();
  }
  Framework::CReplyLimit::sfCheck(n, sizeof(float), kChunkPlace);

  // The reply: bounded by the chunk.
  using Buffer = std::unique_ptr<CORBA::Float, void (*)(CORBA::Float*)>;
  Buffer owned(nullptr, IDL::FloatSeq::freebuf);
  Framework::CReplyLimit::sfSized(kChunkPlace, [&] { owned.reset(IDL::FloatSeq::allocbuf(n)); });

  const RPC3ChunkWindow window = getChunkWindow(layout.pointsPerFrame, first, n);
  {
    Framework::CBinaryFilePtrConnID connection(mHeader.mfGetFile());
    Framework::CFilePtrConnGuard guard(connection);
    Utility::CFileU* file = guard.mfFilePtr();
    if (!file) {
      raiseLogged<IDL::DBAccessException>("File Ptr to RPC3 File is NULL",
                                          "mfFilePtr() returned NULL", kFramePlace);
    }
    // Samples are decoded only with the header of the version they are read from.
    if (mHeader->mfGetVersion() && file->mfGetSource().mfGetVersion() != mHeader->mfGetVersion()) {
      raiseLogged<IDL::DBAccessException>(
          "Unable to read channel " + channelText.mfStd() + ": " +
              CRPC3HeaderRegistry::kChangedWhileOpen + "; open the file again to read it as it is now",
          CRPC3HeaderRegistry::kChangedWhileOpen, kChunkPlace);
    }
    // A frame that does not fit in the file cannot be read: fail before reading it.
    std::int64_t frameBytes = 0;
    if (__builtin_mul_overflow(layout.pointsPerFrame, std::int64_t{layout.mfSampleSize()}, &frameBytes) ||
        frameBytes > file->mfGetSize()) {
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
        readFrame<std::int16_t>(*file, begin, end, layout, scale, decoded);
      } else {
        readFrame<std::int32_t>(*file, begin, end, layout, scale, decoded);
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
