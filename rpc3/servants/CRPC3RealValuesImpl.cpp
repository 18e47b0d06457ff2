#include "rpc3/servants/CRPC3RealValuesImpl.h"

#include <algorithm>
#include <memory>

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

  // The reply, and the stored samples it is decoded from: both bounded by the chunk.
  using Buffer = std::unique_ptr<CORBA::Float, void (*)(CORBA::Float*)>;
  Buffer owned(nullptr, IDL::FloatSeq::freebuf);
  std::unique_ptr<tuFrameData[]> samples;  // every slot is read into before it is decoded
  Framework::CReplyLimit::sfSized(kChunkPlace, [&] {
    owned.reset(IDL::FloatSeq::allocbuf(n));
    samples.reset(new tuFrameData[n]);
  });

  const RPC3ChunkWindow window = getChunkWindow(layout.pointsPerFrame, first, n);
  {
    Framework::CBinaryFilePtrConnID connection(mHeader.mfGetFile());
    Framework::CFilePtrConnGuard guard(connection);
    Utility::CFileU* file = guard.mfFilePtr();
    // Samples are decoded only with the header of the version they are read from.
    if (file && mHeader->mfGetVersion() && file->mfGetSource().mfGetVersion() != mHeader->mfGetVersion()) {
      raiseLogged<IDL::DBAccessException>(
          "Unable to read channel " + channelText.mfStd() + ": " +
              CRPC3HeaderRegistry::kChangedWhileOpen + "; open the file again to read it as it is now",
          CRPC3HeaderRegistry::kChangedWhileOpen, kChunkPlace);
    }
    // A frame that does not fit in the file cannot be read: fail before reading it.
    std::int64_t frameBytes = 0;
    if (file && (__builtin_mul_overflow(layout.pointsPerFrame, std::int64_t{layout.mfSampleSize()}, &frameBytes) ||
                 frameBytes > file->mfGetSize())) {
      raiseReadError();
    }

    tuFrameData* kept = samples.get();
    for (std::int64_t f = window.firstFrame; f <= window.lastFrame; ++f) {
      const std::int64_t begin = window.mfBegin(f), end = window.mfEnd(f);
      mpReadFrame(file, channel, f, layout, begin, end, kept);
      kept += end - begin;
    }
  }
  decodeSamples(samples.get(), n, layout.dataType, layout.storageFormat, scale, owned.get());
  // The sequence takes the buffer over; the union's setter would copy it.
  result->float_sequence(IDL::FloatSeq());
  result->float_sequence().replace(n, n, owned.release(), true);
  return result._retn();
}

void CRPC3RealValuesImpl::mpReadFrame(Utility::CFileU* file, std::int64_t channel,
                                      std::int64_t frameNumber, const RPC3Layout& layout,
                                      std::int64_t begin, std::int64_t end, tuFrameData* kept) {
  if (!file) {
    raiseLogged<IDL::DBAccessException>("File Ptr to RPC3 File is NULL",
                                        "mfFilePtr() returned NULL", kFramePlace);
  }
  const std::optional<std::int64_t> position = frameBytePosition(layout, channel, frameNumber);
  if (!position || file->mfSeek(*position, 0) != 0) raiseReadError();
  const auto sampleSize = static_cast<std::size_t>(layout.mfSampleSize());
  tuFrameData skipped;
  for (std::int64_t k = 0; k < layout.pointsPerFrame; ++k) {
    tuFrameData* slot = k >= begin && k < end ? &kept[k - begin] : &skipped;
    if (file->mfRead(slot->bytes, sampleSize, 1) != 1) raiseReadError();
  }
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
