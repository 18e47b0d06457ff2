#include "rpc3/servants/CRPC3FileImpl.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "host/framework/CReplyLimit.h"
#include "host/framework/CResolverImpl.h"
#include "host/utility/RaiseLogged.h"
#include "rpc3/servants/RPC3ObjectIdentity.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

using Framework::CResolverImpl;
using Utility::CStringU;

namespace {
// Fewest bytes a child entry takes in a reply: its identifier and object reference.
constexpr std::size_t kMinimumEntrySize = 256;
}  // namespace

CRPC3FileImpl::CRPC3FileImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa),
      CBrowsableImpl(id, poa),
      CFileImpl(id, poa),
      CDatabase(id, poa),
      mHeader(Framework::CConfinedFileId(*id)) {
  mpSetFiles(1, new CStringU[1]{CStringU(id->file_name)});
}

CRPC3FileImpl::~CRPC3FileImpl() = default;

CORBA::ULong CRPC3FileImpl::get_number_of_children() {
  CStringU channels = mHeader->mfGetKeywordValue("CHANNELS");
  if (channels.mfIsEmpty()) return 0;
  // A negative count would read as some four billion channels.
  return static_cast<CORBA::ULong>(std::max<std::int32_t>(0, channels.mfGetLong()));
}

IDL::BrowsableStructSeq* CRPC3FileImpl::mfCreateAllChildren() {
  try {
    CORBA::ULong n = get_number_of_children();
    CResolverImpl* resolver = CResolverImpl::sfGetResolverImpl();
    // The count comes from the file: refuse one no reply could carry before building a
    // servant per channel.
    const CORBA::ULong limit = Framework::CReplyLimit::sfMaxValuesPerReply(kMinimumEntrySize);
    if (n > limit) {
      Utility::CLoggerU::sfGetLoggerU(0)->mpPrintText(
          "CHANNELS " + std::to_string(n) + " is more than the " + std::to_string(limit) +
          " children one reply can carry");
      throw std::length_error("too many channels");
    }
    IDL::BrowsableStructSeq_var children = new IDL::BrowsableStructSeq;
    // The count comes from the file: grow with the entries rather than trusting it.
    children->length(std::min<CORBA::ULong>(n, 1024));
    CORBA::ULong filled = 0;
    IDL::ObjectId_var own = get_object_id();
    for (CORBA::ULong k = 1; k <= n; ++k) {
      CStringU keyword("DESC.CHAN_");
      keyword.mfAddLong(k);
      std::unique_ptr<IDL::ObjectId> channelId(
          getChannelObjectId(own.in(), k, mHeader->mfGetKeywordValue(keyword)));
      IDL::Base_var base = resolver->mfResolve(*channelId);
      IDL::Browsable_var channel = IDL::Browsable::_unchecked_narrow(base);
      if (CORBA::is_nil(channel)) continue;
      if (filled == children->length()) children->length(std::min<CORBA::ULong>(n, 2 * filled));
      IDL::BrowsableStruct& entry = children[filled++];
      entry.cached = false;
      entry.id = *channelId;
      entry.reference = IDL::Browsable::_duplicate(channel);
      entry.label = channelId->label;
      entry.idl_type_id = resolver->mfIDLTypeIdChild(channelId->driver, kChannelType);
    }
    children->length(filled);
    return children._retn();
  } catch (...) {
    Utility::raiseLogged<IDL::DBAccessException>("Unable to get all children",
                                                 "Unable to bind or load RPC3 Channel",
                                                 "CRPC3FileImpl::mfCreateAllChildren");
  }
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
