#include "clients/cpp/FileSource.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

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

namespace {

// A call on a connection that the server closed when it stopped fails with COMM_FAILURE
// although the restarted server would answer it. The ORB drops the dead connection; the
// call is tried again, once for each connection its pool may still hold to the old server
// (omniORB keeps up to 5 a server by default), so that it reaches a new one. Every call of
// the data objects only reads, so a repeated call is harmless.
constexpr CORBA::ULong kPooledConnections = 5;
CORBA::Boolean retryAfterRestart(void*, CORBA::ULong retries, const CORBA::COMM_FAILURE&) {
  return retries < kPooledConnections;
}

}  // namespace

IDL::DataServer_ptr mfReachServer(CORBA::ORB_ptr orb, const std::string& url) {
  static std::once_flag retrying;
  std::call_once(retrying, [] { omniORB::installCommFailureExceptionHandler(nullptr, retryAfterRestart); });
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

namespace {

// Why the local path `text` cannot be a file to open, or nothing when it can.
std::optional<std::string> localProblem(const std::string& text) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(text, error);
  if (std::filesystem::is_directory(status)) return "it is a directory";
  if (!text.empty() && text.back() == '/') return "no such directory";
  if (status.type() == std::filesystem::file_type::not_found) return "no such file";
  if (error) return error.message();
  if (!std::filesystem::is_regular_file(status)) return "not a regular file";
  return std::nullopt;
}

}  // namespace

void mpNameKnownAccessPoints(IDL::DataServer_ptr root, IDL::DBAccessException& e) {
  if (std::string(e.reason.in()) != "no such access point") return;
  std::string known;
  try {
    IDL::StringSeq_var names = root->list_access_points();
    for (CORBA::ULong i = 0; i < names->length(); ++i) known += (i > 0 ? ", " : "") + std::string(names[i].in());
  } catch (const CORBA::Exception&) {
    return;  // the refusal says enough without them
  }
  e.message = (std::string(e.message.in()) + (known.empty() ? " (the server has none)" : " (the server has: " + known + ")")).c_str();
}

IDL::File_ptr mfOpenServedFile(IDL::DataServer_ptr root, const RemoteFileName& name, const std::string& asGiven,
                               bool local) {
  if (local) {
    if (const std::optional<std::string> problem = localProblem(asGiven)) {
      throw OpenError("Unable to open " + asGiven + ": " + *problem);
    }
  }
  const std::string& subDirectory = name.mSubDirectory;
  try {
    return root->open_file(name.mAccessPoint.c_str(), subDirectory.c_str(), name.mFileName.c_str());
  } catch (IDL::DBAccessException& e) {
    mpNameKnownAccessPoints(root, e);
    // The server names the file within its access point; the user named it as `asGiven`.
    const std::string served = "Unable to open " + (subDirectory.empty() ? "" : subDirectory + "/") + name.mFileName;
    std::string message = e.message.in();
    if (message.rfind(served, 0) == 0) message = "Unable to open " + asGiven + message.substr(served.size());
    const std::string notRead = ": not a file this server reads";
    if (local && message.size() >= notRead.size() &&
        message.compare(message.size() - notRead.size(), notRead.size(), notRead) == 0) {
      message.replace(message.size() - notRead.size(), notRead.size(), ": not an RPC III file");
      e.reason = "not an RPC III file";
    }
    e.message = message.c_str();
    throw;
  }
}

std::vector<IDL::File_var> mfOpenFiles(Framework::CHostOrb& orb, const std::vector<std::string>& files,
                                       const std::string& server) {
  std::vector<IDL::File_var> opened;
  if (!server.empty()) {
    std::vector<RemoteFileName> names;
    for (const std::string& file : files) names.push_back(mfSplitRemoteFileName(file));
    IDL::DataServer_var remote = mfReachServer(orb.mfOrb(), server);
    for (std::size_t i = 0; i < files.size(); ++i) {
      opened.emplace_back(mfOpenServedFile(remote.in(), names[i], files[i], false));
    }
    return opened;
  }
  // Each directory becomes an access point of the embedded objects.
  std::vector<AccessPoint> points;
  std::map<std::string, std::string> pointOf;
  std::vector<RemoteFileName> names;
  for (const std::string& file : files) {
    if (const std::optional<std::string> problem = localProblem(file)) {
      throw OpenError("Unable to open " + file + ": " + *problem);  // before any object is served
    }
    const std::filesystem::path path = std::filesystem::absolute(file);
    const std::string directory = path.parent_path().string();
    auto [at, added] = pointOf.try_emplace(directory, "local" + std::to_string(points.size() + 1));
    if (added) points.push_back({at->second, directory});
    names.push_back({at->second, "", path.filename().string()});
  }
  IDL::DataServer_var local = mfServeEmbedded(orb, points);
  for (std::size_t i = 0; i < files.size(); ++i) {
    opened.emplace_back(mfOpenServedFile(local.in(), names[i], files[i], true));
  }
  return opened;
}

IDL::File_ptr mfOpenFile(Framework::CHostOrb& orb, const std::string& file, const std::string& server) {
  return IDL::File::_duplicate(mfOpenFiles(orb, {file}, server).front().in());
}

}  // namespace TamblixHq::NODRA::Client
