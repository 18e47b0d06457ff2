#include "clients/cpp/FileSource.h"

#include <filesystem>

#include "host/files/CAccessPointDirectories.h"
#include "host/utility/CAccessPointMapU.h"
#include "rpc3/servants/RPC3Registration.h"

namespace TamblixHq::NODRA::Client {

namespace {

// The '/'-separated components of `text`, or nothing with the reason in `why`.
std::optional<std::vector<std::string>> components(const std::string& text, std::string& why) {
  if (text.empty()) {
    why = "the path is empty";
    return std::nullopt;
  }
  if (text.front() == '/') {
    why = "the path is absolute; name it from its access point";
    return std::nullopt;
  }
  if (text.find('\\') != std::string::npos || text.find('\0') != std::string::npos) {
    why = "the path holds a backslash or a NUL byte";
    return std::nullopt;
  }
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t slash = text.find('/', from);
    parts.push_back(text.substr(from, slash == std::string::npos ? std::string::npos : slash - from));
    const std::string& part = parts.back();
    if (part.empty() || part == "." || part == "..") {
      why = part.empty() ? "the path has an empty component" : "the path has a \"" + part + "\" component";
      return std::nullopt;
    }
    if (slash == std::string::npos) return parts;
    from = slash + 1;
  }
}

std::string joined(const std::vector<std::string>& parts, std::size_t from, std::size_t to) {
  std::string text;
  for (std::size_t i = from; i < to; ++i) text += (i > from ? "/" : "") + parts[i];
  return text;
}

}  // namespace

std::optional<RemoteFileName> mfParseFileName(const std::string& text, std::string& why) {
  const auto parts = components(text, why);
  if (!parts) return std::nullopt;
  if (parts->size() < 2) {
    why = "the path names no file after its access point";
    return std::nullopt;
  }
  return RemoteFileName{parts->front(), joined(*parts, 1, parts->size() - 1), parts->back()};
}

std::optional<RemoteFileName> mfParseDirectoryName(const std::string& text, std::string& why) {
  const auto parts = components(text, why);
  if (!parts) return std::nullopt;
  return RemoteFileName{parts->front(), joined(*parts, 1, parts->size()), ""};
}

RemoteFileName mfSplitRemoteFileName(const std::string& text) {
  std::string why;
  const std::optional<RemoteFileName> name = mfParseFileName(text, why);
  if (!name) {
    throw UsageError("with --server, FILE is ACCESS_POINT/PATH (e.g. rig/road-load.rsp), got \"" +
                     text + "\": " + why);
  }
  return *name;
}

Framework::CHostOrb::Settings mfClientOrbSettings(unsigned timeoutSeconds) {
  Framework::CHostOrb::Settings settings;
  settings.endpoint = "giop:tcp:127.0.0.1:";
  settings.callTimeoutMilliseconds = static_cast<unsigned long>(timeoutSeconds) * 1000;
  return settings;
}

std::string mfUnreachableText(const CORBA::SystemException& e, const std::string& url, unsigned timeoutSeconds) {
  if (Framework::CHostOrb::sfIsTimeout(e)) {
    return "the server at " + url + " did not answer within " + std::to_string(timeoutSeconds) +
           " s (--timeout)";
  }
  return "cannot reach the server at " + url + ": is it running?";
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

IDL::DataServer_ptr mfServeEmbedded(Framework::CHostOrb& orb,
                                    const std::vector<AccessPoint>& accessPoints) {
  for (const AccessPoint& point : accessPoints) {
    Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(point.mName, point.mDirectory);
  }
  // The directories are pinned now: a link put in place of one later does not move it.
  Framework::CAccessPointDirectories::sfGet().mpPinConfigured();
  Drivers::RPC3::serveRPC3Files(orb);
  orb.mpActivate();
  return orb.mfGetRoot();
}

IDL::DataServer_ptr mfOpenRoot(Framework::CHostOrb& orb, const std::vector<AccessPoint>& accessPoints,
                               const std::string& server) {
  return server.empty() ? mfServeEmbedded(orb, accessPoints) : mfReachServer(orb.mfOrb(), server);
}

IDL::File_ptr mfOpenServedFile(IDL::DataServer_ptr root, const std::string& accessPoint, const std::string& fileName,
                               const std::string& asGiven) {
  try {
    return root->open_file(accessPoint.c_str(), "", fileName.c_str());
  } catch (IDL::DBAccessException& e) {
    // The server names the file within its directory; the user named it as `asGiven`.
    const std::string served = "Unable to open " + fileName;
    const std::string message = e.message.in();
    if (message.rfind(served, 0) == 0) e.message = ("Unable to open " + asGiven + message.substr(served.size())).c_str();
    throw;
  }
}

IDL::File_ptr mfOpenFile(Framework::CHostOrb& orb, const std::string& file,
                         const std::string& server) {
  if (server.empty()) {
    // The file's directory becomes the one access point of the embedded objects.
    const std::filesystem::path path = std::filesystem::absolute(file);
    const std::string name = path.filename().string();
    IDL::DataServer_var local = mfServeEmbedded(orb, {{"local", path.parent_path().string()}});
    return mfOpenServedFile(local.in(), "local", name, file);
  }
  const RemoteFileName name = mfSplitRemoteFileName(file);
  IDL::DataServer_var remote = mfReachServer(orb.mfOrb(), server);
  return remote->open_file(name.mAccessPoint.c_str(), name.mSubDirectory.c_str(),
                           name.mFileName.c_str());
}

}  // namespace TamblixHq::NODRA::Client
