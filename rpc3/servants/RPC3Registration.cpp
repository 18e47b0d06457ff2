#include "rpc3/servants/RPC3Registration.h"

#include "host/files/CBinaryFilePtrConnID.h"
#include "host/files/CFilePtrConnGuard.h"
#include "rpc3/format/RPC3HeaderRecords.h"
#include "rpc3/servants/CRPC3ChannelImpl.h"
#include "rpc3/servants/CRPC3EquidistantValuesImpl.h"
#include "rpc3/servants/CRPC3FileImpl.h"
#include "rpc3/servants/CRPC3FunctionRecordImpl.h"
#include "rpc3/servants/CRPC3QuantityImpl.h"
#include "rpc3/servants/CRPC3RealValuesImpl.h"
#include "rpc3/servants/RPC3ObjectIdentity.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

bool isRPC3File(const Framework::CConfinedFileId& file) {
  const Framework::CBinaryFilePtrConnID connection(file);
  const Framework::CFilePtrConnGuard guard(connection);
  return guard.mfFilePtr() != nullptr && looksLikeRPC3File(*guard.mfFilePtr());
}

Framework::CDataServerImpl& serveRPC3Files(Framework::CHostOrb& orb, const Framework::CResolverImpl::Settings& settings,
                                           const std::string& corbalocKey) {
  Framework::CDataServerImpl& server = orb.mpServeDataObjects(settings, corbalocKey);
  Framework::CResolverImpl& resolver = *Framework::CResolverImpl::sfGetResolverImpl();
  resolver.mpRegisterType<CRPC3FileImpl>(kFileType, IDL::File::_PD_repoId);
  resolver.mpRegisterType<CRPC3ChannelImpl>(kChannelType, IDL::Function2D::_PD_repoId);
  resolver.mpRegisterType<CRPC3EquidistantValuesImpl>(kEquidistantValuesType,
                                                      IDL::EquidistantValues::_PD_repoId);
  resolver.mpRegisterType<CRPC3RealValuesImpl>(kRealValuesType, IDL::RealValues::_PD_repoId);
  resolver.mpRegisterType<CRPC3FunctionRecordImpl>(kFunctionRecordType,
                                                   IDL::MeasurementFunctionRecord::_PD_repoId);
  resolver.mpRegisterType<CRPC3QuantityImpl>(kQuantityType, IDL::Quantity::_PD_repoId);
  server.mpRegisterFileType("RPC3", kFileType, isRPC3File);
  return server;
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
