#include "rpc3/servants/CRPC3RealValuesImpl.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "host/framework/CBinaryFilePtrConnID.h"
#include "host/framework/CFilePtrConnGuard.h"
#include "host/framework/CReplyLimit.h"
#include "host/utility/CObjectIdU.h"
#include "host/utility/RaiseLogged.h"
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
  CStringU channelText(id->index);
  const std::int64_t channel = channelText.mfGetLong();

  // The layout is looked up on every call: nothing is cached between calls.
  RPC3Layout layout;
  layout.pointsPerFrame = mHeader->mfGetKeywordValue("PTS_PER_FRAME").mfGetLong();
  layout.pointsPerGroup = mHeader->mfGetKeywordValue("PTS_PER_GROUP").mfGetLong();
  layout.channels = mHeader->mfGetKeywordValue("CHANNELS").mfGetLong();
  layout.headerBlocks = mHeader->mfGetKeywordValue("NUM_HEADER_BLOCKS").mfGetLong();
  CStringU scaleKeyword("SCALE.CHAN_");
  scaleKeyword.mfAddString(channelText);
  const float scale = static_cast<float>(mHeader->mfGetKeywordValue(scaleKeyword).mfGetDouble());
  const eFrameDataType dataType = mHeader->mfGetDataType();
  const eStorageFormat format = mHeader->mfGetStorageFormat();

  IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
  CORBA::ULong first = 0;
  CORBA::ULong n = 0;
  sfClipChunk(start, count, get_number_of_values(), first, n);
  if (n == 0) {
    result->float_sequence(IDL::FloatSeq());
    return result._retn();
  }
  if (auto problem = checkLayout(layout, channel)) {
    raiseLogged<IDL::DBAccessException>(
        "Unable to read channel " + channelText.mfStd() + ": " + *problem,
        "invalid sample layout in header", kChunkPlace);
  }
  Framework::CReplyLimit::sfCheck(n, sizeof(float), kChunkPlace);

  CORBA::Float* values = IDL::FloatSeq::allocbuf(n);
  if (!values) {
    raiseLogged<IDL::MemAllocException>("Memory allocation failed", "allocbuf() returned NULL",
                                        kChunkPlace);
  }
  // Owned here until the sequence takes it.
  std::unique_ptr<CORBA::Float, void (*)(CORBA::Float*)> owned(values, IDL::FloatSeq::freebuf);

  const std::int64_t P = layout.pointsPerFrame;
  const std::int64_t firstFrame = (static_cast<std::int64_t>(first) + P - 1) / P;
  const std::int64_t firstPosition = first % P == 0 ? P : first % P;
  const std::int64_t lastFrame = (static_cast<std::int64_t>(first) + n - 1 + P - 1) / P;
  {
    Utility::CObjectIdU wrapped(id.in());
    Framework::CBinaryFilePtrConnID connection(wrapped);
    Framework::CFilePtrConnGuard guard(connection);
    Utility::CFileU* file = guard.mfFilePtr();
    const int sampleSize = dataType == eShortInteger ? 2 : 4;
    // A frame that does not fit in the file cannot be read: fail before sizing a buffer by it.
    if (file && P * sampleSize > file->mfGetSize()) raiseReadError();

    std::vector<tuFrameData> frame(file ? static_cast<std::size_t>(P) : 0);
    CORBA::ULong i = 0;
    for (std::int64_t f = firstFrame; f <= lastFrame; ++f) {
      mpReadFrame(file, channel, f, layout, dataType, frame.data());
      const std::int64_t from = f == firstFrame ? firstPosition : 1;
      const std::int64_t to = std::min<std::int64_t>(P, from + (n - i) - 1);
      const tuFrameData* slot = frame.data() + (from - 1);
      if (dataType == eShortInteger) {
        for (std::int64_t j = from; j <= to; ++j, ++slot, ++i) {
          values[i] = scaleSample(mfShortByteSwap(decodeInt16LE(slot->bytes), format), scale);
        }
      } else {
        for (std::int64_t j = from; j <= to; ++j, ++slot, ++i) {
          const std::uint32_t bits = static_cast<std::uint32_t>(
              mfLongByteSwap(static_cast<std::int32_t>(decodeUInt32LE(slot->bytes)), format));
          float sample;
          std::memcpy(&sample, &bits, sizeof sample);
          values[i] = scaleSample(sample, scale);
        }
      }
    }
  }
  // The sequence takes the buffer over; the union's setter would copy it.
  result->float_sequence(IDL::FloatSeq());
  result->float_sequence().replace(n, n, owned.release(), true);
  return result._retn();
}

void CRPC3RealValuesImpl::mpReadFrame(Utility::CFileU* file, std::int64_t channel,
                                      std::int64_t frameNumber, const RPC3Layout& layout,
                                      eFrameDataType dataType, tuFrameData* frame) {
  if (!file) {
    raiseLogged<IDL::DBAccessException>("File Ptr to RPC3 File is NULL",
                                        "mfFilePtr() returned NULL", kFramePlace);
  }
  const int sampleSize = dataType == eShortInteger ? 2 : 4;
  std::optional<std::int64_t> position =
      frameBytePosition(layout, channel, frameNumber, sampleSize);
  if (!position || file->mfSeek(*position, 0) != 0) raiseReadError();
  for (std::int64_t k = 0; k < layout.pointsPerFrame; ++k) {
    if (file->mfRead(frame[k].bytes, static_cast<std::size_t>(sampleSize), 1) != 1) {
      raiseReadError();
    }
  }
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
