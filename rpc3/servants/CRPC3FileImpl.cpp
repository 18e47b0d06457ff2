#include "rpc3/servants/CRPC3FileImpl.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "host/files/CBinaryFilePtrConnID.h"
#include "host/framework/CCallSlots.h"
#include "host/files/CFilePtrConnGuard.h"
#include "host/framework/CObjectIdCodec.h"
#include "host/framework/CReplyLimit.h"
#include "host/framework/CResolverImpl.h"
#include "host/framework/CFunctionRecordImpl.h"
#include "host/utility/RaiseLogged.h"
#include "rpc3/format/RPC3HeaderRecords.h"
#include "rpc3/format/RPC3Layout.h"
#include "rpc3/servants/CRPC3ChannelImpl.h"
#include "rpc3/servants/CRPC3FunctionRecordImpl.h"
#include "rpc3/servants/CRPC3QuantityImpl.h"
#include "rpc3/servants/RPC3ObjectIdentity.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

using Framework::CResolverImpl;
using Utility::CStringU;

namespace {
// Fewest bytes a child entry takes in a reply: its identifier and object reference.
constexpr std::size_t kMinimumEntrySize = 256;
// Most bytes a header record takes in a reply: its texts, their lengths and the flags.
constexpr std::size_t kMaximumRecordSize = 168;
constexpr const char* kReadingPlace = "CRPC3FileImpl::get_header_reading";
}  // namespace

CRPC3FileImpl::CRPC3FileImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa),
      CBrowsableImpl(id, poa),
      CFileImpl(id, poa),
      CDatabase(id, poa),
      mHeader(*id) {
  mpSetFiles(1, new CStringU[1]{CStringU(id->file_name)});
}

CRPC3FileImpl::~CRPC3FileImpl() = default;

CORBA::ULong CRPC3FileImpl::get_number_of_children() {
  CStringU channels = mHeader->mfGetKeywordValue("CHANNELS");
  if (channels.mfIsEmpty()) return 0;
  // A negative count would read as some four billion channels.
  return static_cast<CORBA::ULong>(std::max<std::int32_t>(0, channels.mfGetLong()));
}

void CRPC3FileImpl::mpListChannels(CORBA::ULong first, CORBA::ULong end,
                                   IDL::BrowsableStructSeq& children,
                                   IDL::AnnotationSeqSeq* annotations,
                                   IDL::FunctionExtendedStructSeq* functions) {
  CResolverImpl* resolver = CResolverImpl::sfGetResolverImpl();
  const CORBA::ULong n = end - first;
  // The count comes from the file: grow with the entries rather than trusting it.
  const CORBA::ULong reserve = std::min<CORBA::ULong>(n, 1024);
  children.length(reserve);
  if (annotations) annotations->length(reserve);
  if (functions) functions->length(reserve);
  CORBA::ULong filled = 0;
  IDL::ObjectId_var own = get_object_id();
  for (CORBA::ULong k = first; k < end; ++k) {
    CStringU keyword("DESC.CHAN_");
    keyword.mfAddLong(k);
    std::unique_ptr<IDL::ObjectId> channelId(
        getChannelObjectId(own.in(), k, mHeader->mfGetKeywordValue(keyword)));
    IDL::Base_var base = resolver->mfReference(*channelId);
    IDL::Browsable_var channel = IDL::Browsable::_unchecked_narrow(base);
    if (CORBA::is_nil(channel)) continue;
    if (filled == children.length()) {
      const CORBA::ULong grown = std::min<CORBA::ULong>(n, 2 * filled);
      children.length(grown);
      if (annotations) annotations->length(grown);
      if (functions) functions->length(grown);
    }
    IDL::BrowsableStruct& entry = children[filled];
    entry.cached = false;
    entry.id = *channelId;
    entry.reference = IDL::Browsable::_duplicate(channel);
    entry.label = channelId->label;
    entry.idl_type_id = resolver->mfIDLTypeIdChild(channelId->driver, kChannelType);
    if (annotations) {
      IDL::AnnotationSeq_var channelAnnotations = getChannelAnnotations(*mHeader, *channelId);
      (*annotations)[filled] = channelAnnotations.in();
    }
    if (functions) {
      const CStringU number(channelId->index);
      IDL::FunctionExtendedStruct& function = (*functions)[filled];
      function.function_record = getChannelFunctionRecord(*channelId);
      std::unique_ptr<IDL::FunctionRecord::FunctionRecordAnnotation> record(
          Framework::getFunctionRecordAnnotation(IDL::FunctionRecord::SAMPLED_TIME_HISTORY));
      function.function_record_annotation = *record;
      std::unique_ptr<IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation> measurement(
          getChannelMeasurementAnnotation(*mHeader, number));
      function.measurement_annotation = *measurement;
      function.x_values = getChannelValues(*channelId, IDL::X);
      function.x_quantity = getAxisQuantity(*channelId, IDL::X);
      IDL::Quantity::QuantityAnnotation_var x = getQuantityAnnotation(*mHeader, number, IDL::X);
      function.x_quantity_annotation = x.in();
      function.y_values = getChannelValues(*channelId, IDL::Y);
      function.y_quantity = getAxisQuantity(*channelId, IDL::Y);
      IDL::Quantity::QuantityAnnotation_var y = getQuantityAnnotation(*mHeader, number, IDL::Y);
      function.y_quantity_annotation = y.in();
    }
    ++filled;
  }
  children.length(filled);
  if (annotations) annotations->length(filled);
  if (functions) functions->length(filled);
}

IDL::BrowsableStructSeq* CRPC3FileImpl::mfCreateAllChildren() {
  try {
    const CORBA::ULong n = get_number_of_children();
    // The count comes from the file: refuse one no reply could carry before making a
    // reference per channel.
    const CORBA::ULong limit = Framework::CReplyLimit::sfMaxValuesPerReply(kMinimumEntrySize);
    if (n > limit) {
      Utility::CLoggerU::sfGetLoggerU(0)->mpPrintText(
          "CHANNELS " + std::to_string(n) + " is more than the " + std::to_string(limit) +
          " children one reply can carry",
          Utility::CLoggerU::kDetail);
      throw std::length_error("too many channels");
    }
    Framework::CCallSlots::Slot slot(Framework::CCallSlots::sfLargeReplies(), "CRPC3FileImpl::get_all_children",
                                     Framework::CCallSlots::sfIsLarge(std::uint64_t{n} * kMinimumEntrySize));
    IDL::BrowsableStructSeq_var children = new IDL::BrowsableStructSeq;
    mpListChannels(1, n + 1, children.inout(), nullptr, nullptr);
    return children._retn();
  } catch (const IDL::DBAccessException& e) {
    if (Framework::CCallSlots::sfIsBusy(e)) throw;  // said as it is: try again later
    sfRaiseListingFailure();
  } catch (...) {
    sfRaiseListingFailure();
  }
}

IDL::BrowsableExtendedStruct* CRPC3FileImpl::get_all_children_extended_chunk(CORBA::ULong start) {
  // Not evicted while the chunk is built; the client's own choice is back afterwards, on
  // every path.
  const bool evictable = get_evictable();
  set_evictable(false);
  struct Restore {
    CRPC3FileImpl& file;
    bool evictable;
    ~Restore() { file.set_evictable(evictable); }
  } restore{*this, evictable};
  try {
    IDL::BrowsableExtendedStruct_var chunk = new IDL::BrowsableExtendedStruct;
    const CORBA::ULong n = get_number_of_children();
    if (start < n) {
      // The chunk size is cut to what one reply carries, estimated before any channel is
      // listed: a channel's entry holds its identifier and six references, each with an
      // object key as long as an identifier, and its annotations and descriptions.
      const std::size_t idBytes = Framework::CObjectIdCodec::sfEncode(mfGetId()).size() + 128;
      const std::size_t entryBytes = 7 * (idBytes + 512) + 2048;
      const CORBA::ULong size = std::max<CORBA::ULong>(
          1, std::min(CResolverImpl::sfGetResolverImpl()->mfGetChunkSize(),
                      Framework::CReplyLimit::sfMaxValuesPerReply(entryBytes)));
      const CORBA::ULong end = static_cast<CORBA::ULong>(
          std::min<std::uint64_t>(n, static_cast<std::uint64_t>(start) + size));
      Framework::CCallSlots::Slot slot(Framework::CCallSlots::sfLargeReplies(),
                                       "CRPC3FileImpl::get_all_children_extended_chunk",
                                       Framework::CCallSlots::sfIsLarge(std::uint64_t{end - start} * entryBytes));
      mpListChannels(start + 1, end + 1, chunk->children, &chunk->annotations, &chunk->functions);
    }
    return chunk._retn();
  } catch (const IDL::DBAccessException& e) {
    if (Framework::CCallSlots::sfIsBusy(e)) throw;  // said as it is: try again later
    sfRaiseListingFailure();
  } catch (...) {
    sfRaiseListingFailure();
  }
}

IDL::HeaderReading* CRPC3FileImpl::get_header_reading() {
  const RPC3Layout layout = getLayout(*mHeader);
  // The records read are at most one more than those counted: refuse before reading them
  // when no reply could carry them.
  const std::int64_t records = mHeader->mfGetCountedRecords() + 1;
  Framework::CReplyLimit::sfCheck(static_cast<CORBA::ULong>(std::min<std::int64_t>(records, UINT32_MAX)),
                                  kMaximumRecordSize, kReadingPlace);
  // Held until the reply is built; the trimmer gives its memory back once it is sent.
  Framework::CCallSlots::Slot slot(Framework::CCallSlots::sfLargeReplies(), kReadingPlace,
                                   Framework::CCallSlots::sfIsLarge(std::uint64_t(records) * kMaximumRecordSize));
  std::int64_t dataStart = INT64_MAX;
  if (layout.headerBlocks >= 0) dataStart = layout.headerBlocks * 512;

  std::optional<std::vector<RPC3RecordReading>> list;
  {
    Framework::CBinaryFilePtrConnID connection(mHeader.mfGetFile());
    Framework::CFilePtrConnGuard guard(connection, mHeader->mfGetVersion());
    Utility::CFileU* file = guard.mfFilePtr();
    const std::string name = mHeader.mfGetFile().mfGetShownKey().mfStd();
    if (!file) {
      Utility::raiseLogged<IDL::DBAccessException>("Unable to read the header of <" + name + ">",
                                                   guard.mfGetError(), kReadingPlace);
    }
    if (mHeader->mfGetVersion() && file->mfGetSource().mfGetVersion() != mHeader->mfGetVersion()) {
      Utility::raiseLogged<IDL::DBAccessException>(
          "Unable to read the header of <" + name + ">: " + CRPC3HeaderRegistry::kChangedWhileOpen +
              "; open the file again to read it as it is now",
          CRPC3HeaderRegistry::kChangedWhileOpen, kReadingPlace);
    }
    list = listHeaderRecords(*file, dataStart);
    if (!list) {
      Utility::raiseLogged<IDL::DBAccessException>("Unable to read the header of <" + name + ">",
                                                   "a header record cannot be read whole", kReadingPlace);
    }
  }

  IDL::HeaderReading_var reading = new IDL::HeaderReading;
  reading->records.length(static_cast<CORBA::ULong>(list->size()));
  for (CORBA::ULong i = 0; i < list->size(); ++i) {
    const RPC3RecordReading& from = (*list)[i];
    IDL::HeaderRecord& to = reading->records[i];
    to.number = static_cast<CORBA::ULongLong>(from.number);
    to.keyword = from.keyword.c_str();
    to.value = from.value.c_str();
    to.dropped = from.dropped;
    to.from_data = from.fromData;
  }
  IDL::AnnotationSeq& readings = reading->readings;
  const auto add = [&](const char* name) -> IDL::DSVariantUnion& {
    const CORBA::ULong n = readings.length();
    readings.length(n + 1);
    readings[n].definition.name = name;
    readings[n].definition.group = "";
    readings[n].definition.owner_type = kFileType;
    return readings[n].value;
  };
  add("storage_format").string_value(storageFormatName(layout.storageFormat));
  add("byte_order").string_value(layout.storageFormat == eBinaryIeeeBigEnd ? "big-endian" : "little-endian");
  add("sample_type").string_value(dataTypeName(layout.dataType));
  add("sample_size").short_value(static_cast<CORBA::Short>(layout.mfSampleSize()));
  // Both come from 32-bit conversions of the header's texts.
  add("header_blocks").long_value(static_cast<CORBA::Long>(layout.headerBlocks));
  add("counted_records").long_value(static_cast<CORBA::Long>(layout.headerRecords));
  if (layout.headerBlocks >= 0 && dataStart <= INT32_MAX) {
    add("data_start").long_value(static_cast<CORBA::Long>(dataStart));
  } else if (layout.headerBlocks >= 0) {
    add("data_start").double_value(static_cast<double>(dataStart));  // exact below 2^53
  } else {
    add("data_start").string_value("none: NUM_HEADER_BLOCKS is negative");
  }
  return reading._retn();
}

void CRPC3FileImpl::sfRaiseListingFailure() {
  Utility::raiseLogged<IDL::DBAccessException>("Unable to get all children",
                                               "Unable to bind or load RPC3 Channel",
                                               "CRPC3FileImpl::mfCreateAllChildren");
}

void CRPC3FileImpl::mpFillAnnotationContainer() {
  if (!mAnnotationsFilled) {
    IDL::AnnotationSeq_var annotations = getFileAnnotations(*mHeader);
    for (CORBA::ULong i = 0; i < annotations->length(); ++i) {
      mpAddAnnotation(annotations[i].definition, annotations[i].value);
    }
    mAnnotationsFilled = true;
  }
  CDatabase::mpFillAnnotationContainer();
}

IDL::AnnotationSeq* getFileAnnotations(const CRPC3Header& header) {
  enum Kind { kString, kBoolean, kShort, kLong, kDouble };
  struct Row {
    const char* name;
    const char* keyword;
    Kind kind;
  };
  static const Row before[] = {
      {"storage_format", "FORMAT", kString},  {"created_by", "OPERATION", kString},
      {"file_type", "FILE_TYPE", kString},    {"time_type", "TIME_TYPE", kString},
      {"bypass_filter", "BYPASS_FILTER", kBoolean}, {"number_of_channels", "CHANNELS", kShort},
      {"date", "DATE", kString},              {"delta_t", "DELTA_T", kDouble},
      {"half_frames", "HALF_FRAMES", kBoolean},
  };
  static const Row after[] = {
      {"frames", "FRAMES", kShort},          {"num_header_blocks", "NUM_HEADER_BLOCKS", kShort},
      {"num_params", "NUM_PARAMS", kShort},  {"pts_per_frame", "PTS_PER_FRAME", kLong},
      {"pts_per_group", "PTS_PER_GROUP", kLong}, {"repeats", "REPEATS", kShort},
  };
  constexpr int kMaxParents = 109;

  IDL::AnnotationSeq_var annotations = new IDL::AnnotationSeq;
  auto append = [&](const char* name, const CStringU& text, Kind kind) {
    const CORBA::ULong n = annotations->length();
    annotations->length(n + 1);
    IDL::Annotation& a = annotations[n];
    a.definition.name = name;
    a.definition.group = "";
    a.definition.owner_type = kFileType;
    switch (kind) {
      case kString: a.value.string_value(text.mfGetString()); break;
      case kBoolean: a.value.bool_value(text.mfGetInt() != 0); break;
      // The low 16 bits, as the files' own tools keep them.
      case kShort: a.value.short_value(static_cast<CORBA::Short>(static_cast<std::uint16_t>(text.mfGetInt()))); break;
      case kLong: a.value.long_value(text.mfGetLong()); break;
      case kDouble: a.value.double_value(text.mfGetDouble()); break;
    }
  };
  for (const Row& row : before) append(row.name, header.mfGetKeywordValue(row.keyword), row.kind);
  for (int n = 1; n <= kMaxParents; ++n) {
    CStringU keyword("PARENT_");
    keyword.mfAddInt(n);
    const CStringU parent = header.mfGetKeywordValue(keyword);
    if (parent.mfIsEmpty()) break;
    append(keyword.mfGetString(), parent, kString);
  }
  for (const Row& row : after) append(row.name, header.mfGetKeywordValue(row.keyword), row.kind);
  return annotations._retn();
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
