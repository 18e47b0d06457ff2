#include "rpc3/servants/RPC3Registration.h"

#include <cstring>

#include "host/framework/CBinaryFilePtrConnID.h"
#include "host/framework/CFilePtrConnGuard.h"
#include "rpc3/servants/CRPC3ChannelImpl.h"
#include "rpc3/servants/CRPC3EquidistantValuesImpl.h"
#include "rpc3/servants/CRPC3FileImpl.h"
#include "rpc3/servants/CRPC3RealValuesImpl.h"
#include "rpc3/servants/RPC3ObjectIdentity.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace FW = Framework;
namespace RPC3 = Drivers::RPC3;
namespace IDL = ::TAMBLIX::NODRA::Framework;

bool looksLikeRPC3File(const std::string& path) {
  FW::CBinaryFilePtrConnID connection{TamblixHq::NODRA::Utility::CStringU(path)};
  FW::CFilePtrConnGuard guard(connection);
  auto* file = guard.mfFilePtr();
  char keyword[32];
  if (!file || file->mfRead(keyword, sizeof keyword, 1) != 1) return false;
  return std::strncmp(keyword, "FORMAT", sizeof keyword) == 0;
}

void registerRPC3Types(FW::CResolverImpl& resolver, FW::CDataServerImpl* server) {
  resolver.mpRegisterType<RPC3::CRPC3FileImpl>(RPC3::kFileType, IDL::File::_PD_repoId);
  resolver.mpRegisterType<RPC3::CRPC3ChannelImpl>(RPC3::kChannelType,
                                                  IDL::Function2D::_PD_repoId);
  resolver.mpRegisterType<RPC3::CRPC3EquidistantValuesImpl>(RPC3::kEquidistantValuesType,
                                                            IDL::EquidistantValues::_PD_repoId);
  resolver.mpRegisterType<RPC3::CRPC3RealValuesImpl>(RPC3::kRealValuesType,
                                                     IDL::RealValues::_PD_repoId);
  if (server) server->mpRegisterFileType("RPC3", RPC3::kFileType, looksLikeRPC3File);
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
