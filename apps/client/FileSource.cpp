#include "apps/client/FileSource.h"

#include <filesystem>

#include "host/utility/CAccessPointMapU.h"
#include "rpc3/servants/RPC3Registration.h"

namespace TamblixHq::NODRA::Client {

RemoteFileName mfSplitRemoteFileName(const std::string& text) {
  const std::size_t first = text.find('/');
  const std::size_t last = text.rfind('/');
  if (first == std::string::npos || first == 0 || last + 1 == text.size()) {
    throw UsageError("with --server, FILE is ACCESS_POINT/PATH (e.g. rig/road-load.rsp), got \"" +
                     text + "\"");
  }
  RemoteFileName name;
  name.mAccessPoint = text.substr(0, first);
  if (last > first) name.mSubDirectory = text.substr(first + 1, last - first - 1);
  name.mFileName = text.substr(last + 1);
  return name;
}

IDL::DataServer_ptr mfReachServer(CORBA::ORB_ptr orb, const std::string& url) {
  CORBA::Object_var object;
  try {
    object = orb->string_to_object(url.c_str());
  } catch (const CORBA::BAD_PARAM& e) {
    // The standard minor code 10 of a well-formed corbaname: the name is not bound there.
    constexpr CORBA::ULong kNameNotResolved = 0x4f4d0000 | 10;
    if (e.minor() == kNameNotResolved && url.rfind("corbaname:", 0) == 0) {
      throw std::runtime_error("the naming service of \"" + url +
                               "\" has no object under that name: is the server running with --name?");
    }
    throw UsageError("--server \"" + url +
                     "\" is not an object URL (corbaloc::HOST:PORT/NodraServer, "
                     "corbaname::HOST:PORT#NAME or IOR:...)");
  }
  IDL::DataServer_var root = IDL::DataServer::_narrow(object);
  if (CORBA::is_nil(root)) {
    throw UsageError("--server \"" + url + "\" does not name a data server");
  }
  return root._retn();
}

IDL::File_ptr mfOpenFile(Framework::CHostOrb& orb, const std::string& file,
                         const std::string& server) {
  if (server.empty()) {
    // The file's directory becomes the one access point of the embedded objects.
    const std::filesystem::path path = std::filesystem::absolute(file);
    Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(
        "local", path.parent_path().string());
    Framework::CDataServerImpl& root = orb.mpServeDataObjects({});
    Drivers::RPC3::registerRPC3Types(*Framework::CResolverImpl::sfGetResolverImpl(), &root);
    orb.mpActivate();
    IDL::DataServer_var local = orb.mfGetRoot();
    return local->open_file("local", "", path.filename().string().c_str());
  }
  const RemoteFileName name = mfSplitRemoteFileName(file);
  IDL::DataServer_var remote = mfReachServer(orb.mfOrb(), server);
  return remote->open_file(name.mAccessPoint.c_str(), name.mSubDirectory.c_str(),
                           name.mFileName.c_str());
}

}  // namespace TamblixHq::NODRA::Client
