#include "clients/cpp/ClientSession.h"

#include <filesystem>

#include "clients/cpp/FileListing.h"
#include "clients/cpp/ListingOutput.h"
#include "host/files/CAccessPointDirectories.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/CLoggerU.h"

namespace TamblixHq::NODRA::Client {

namespace {

// The process's ORB: made at the first session and kept until the process ends (an ORB
// cannot be made twice in a process, and Python gives no point at which to destroy it).
Framework::CHostOrb& processOrb() {
  static Framework::CHostOrb* orb = [] {
    // Servants report failures through their exceptions; the logger's copy would repeat them.
    Utility::CLoggerU::sfGetLoggerU(0)->mpSetEnabled(false);
    return new Framework::CHostOrb("nodra", {}, mfClientOrbSettings());
  }();
  return *orb;
}

}  // namespace

std::shared_ptr<ClientSession> ClientSession::sfLocal() {
  static std::mutex mutex;
  static std::shared_ptr<ClientSession> local;
  std::lock_guard<std::mutex> lock(mutex);
  if (!local) {
    Framework::CHostOrb& orb = processOrb();
    IDL::DataServer_var root = mfServeEmbedded(orb, {});
    local.reset(new ClientSession("local", root._retn()));
  }
  return local;
}

std::shared_ptr<ClientSession> ClientSession::sfRemote(const std::string& url) {
  IDL::DataServer_var root = mfReachServer(processOrb().mfOrb(), url);
  std::shared_ptr<ClientSession> session(new ClientSession(url, IDL::DataServer::_duplicate(root)));
  session->mfGuard([&] { return IDL::StringSeq_var(root->list_access_points()); });  // fails now when nobody answers
  return session;
}

IDL::File_ptr ClientSession::mfOpen(const std::string& path) {
  if (mUrl != "local") {
    const RemoteFileName name = mfSplitRemoteFileName(path);
    return mfGuard([&] { return mfOpenServedFile(mRoot.in(), name, path, false); });
  }
  const std::filesystem::path absolute = std::filesystem::absolute(path).lexically_normal();
  std::string accessPoint;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    const std::string directory = absolute.parent_path().string();
    auto found = mAccessPoints.find(directory);
    if (found == mAccessPoints.end()) {
      const std::string name = "local-" + std::to_string(mAccessPoints.size() + 1);
      Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(name, directory);
      Framework::CAccessPointDirectories::sfGet().mpPinConfigured();
      found = mAccessPoints.emplace(directory, name).first;
    }
    accessPoint = found->second;
  }
  return mfOpenServedFile(mRoot.in(), {accessPoint, "", absolute.filename().string()}, path, true);
}

std::string ClientSession::mfListJson(const std::string& directory) {
  return mfGuard([&] { return mfDirectoriesJson(mRoot.in(), directory).dump(-1, ' ', false,
                                                                             nlohmann::json::error_handler_t::replace); });
}

}  // namespace TamblixHq::NODRA::Client
