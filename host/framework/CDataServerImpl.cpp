#include "host/framework/CDataServerImpl.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/framework/CObjectIdCodec.h"
#include "host/framework/CResolverImpl.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/CObjectIdU.h"
#include "host/utility/RaiseLogged.h"

namespace TamblixHq::NODRA::Framework {

using Utility::CStringU;

namespace {

[[noreturn]] void fail(const std::string& message, const std::string& reason, const char* place) {
  Utility::raiseLogged<IDL::DBAccessException>(message, reason, place);
}

// Refuses, with `place`, a name that confinement refuses.
void failIfRefused(const CConfinedFileId& file, const char* place) {
  if (file.mfGetRefusal() == CConfinedFileId::eUnknownAccessPoint) {
    fail("Unknown access point \"" + file.mfGetAccessPoint().mfStd() + "\"", "no such access point",
         place);
  }
  if (file.mfIsRefused()) {
    std::string name = file.mfGetSubDirectory().mfStd();
    if (!name.empty() && !file.mfGetFileName().mfIsEmpty()) name += "/";
    name += file.mfGetFileName().mfStd();
    fail("Cannot use \"" + name + "\" in access point \"" + file.mfGetAccessPoint().mfStd() + "\"",
         file.mfGetRefusalText(), place);
  }
}

}  // namespace

void CDataServerImpl::mpRegisterFileType(const std::string& driver, const std::string& typeId,
                                         Detector detector) {
  std::lock_guard<std::mutex> lock(mMutex);
  mTypes.push_back(FileType{driver, typeId, std::move(detector)});
}

IDL::StringSeq* CDataServerImpl::list_access_points() {
  auto points = Utility::CAccessPointMapU::sfGetAccessPointMapU()->mfGetAccessPoints();
  auto* names = new IDL::StringSeq;
  names->length(static_cast<CORBA::ULong>(points.size()));
  for (CORBA::ULong i = 0; i < points.size(); ++i) (*names)[i] = points[i].first.mfGetString();
  return names;
}

std::optional<CDataServerImpl::FileType> CDataServerImpl::mfTypeOf(const CConfinedFileId& file) {
  std::vector<FileType> types;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    types = mTypes;
  }
  // Detectors read the file: run them without the lock.
  for (const FileType& type : types) {
    if (type.detector(file)) return type;
  }
  return std::nullopt;
}

IDL::StringSeq* CDataServerImpl::list_files(const char* accessPoint, const char* subDirectory) {
  return mfListDirectory(accessPoint, subDirectory, false, "CDataServerImpl::list_files");
}

IDL::StringSeq* CDataServerImpl::list_directories(const char* accessPoint, const char* subDirectory) {
  return mfListDirectory(accessPoint, subDirectory, true, "CDataServerImpl::list_directories");
}

IDL::StringSeq* CDataServerImpl::mfListDirectory(const char* accessPoint, const char* subDirectory,
                                                 bool directories, const char* place) {
  const CConfinedFileId directory(accessPoint, subDirectory, "");
  failIfRefused(directory, place);
  // Listed beneath the access point's descriptor, as files are opened: never by path, which
  // a retargeted link would move elsewhere.
  std::string why;
  const int fd = directory.mfOpenDirectory(why);
  if (fd < 0) fail("Unable to list " + directory.mfGetShownPath(), why, place);
  struct Entry {
    std::string name;
    mode_t type;
  };
  std::vector<Entry> entries;
  {
    const std::unique_ptr<DIR, int (*)(DIR*)> stream(::fdopendir(fd), ::closedir);
    if (!stream) {
      why = std::strerror(errno);
      ::close(fd);
      fail("Unable to list " + directory.mfGetShownPath(), why, place);
    }
    for (;;) {
      errno = 0;
      const struct dirent* entry = ::readdir(stream.get());
      if (entry == nullptr) break;
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      // Links followed: one that leads out is weeded out by the open beneath below.
      struct stat status;
      if (::fstatat(::dirfd(stream.get()), entry->d_name, &status, 0) != 0) continue;
      entries.push_back({name, status.st_mode & S_IFMT});
    }
    if (errno != 0) why = std::strerror(errno);
  }
  if (!why.empty()) fail("Unable to list " + directory.mfGetShownPath(), why, place);
  const std::string prefix = std::string(subDirectory).empty() ? "" : std::string(subDirectory) + "/";
  std::vector<std::string> names;
  for (const Entry& entry : entries) {
    if (directories) {
      // A directory is listed when it can be listed in turn: one that leads out is not.
      if (entry.type != S_IFDIR) continue;
      std::string innerWhy;
      const int inner = CConfinedFileId(accessPoint, (prefix + entry.name).c_str(), "").mfOpenDirectory(innerWhy);
      if (inner < 0) continue;
      ::close(inner);
      names.push_back(entry.name);
    } else {
      if (entry.type != S_IFREG) continue;
      if (mfTypeOf(directory.mfSibling(entry.name))) names.push_back(entry.name);
    }
  }
  std::sort(names.begin(), names.end());
  auto* listed = new IDL::StringSeq;
  listed->length(static_cast<CORBA::ULong>(names.size()));
  for (CORBA::ULong i = 0; i < names.size(); ++i) (*listed)[i] = names[i].c_str();
  return listed;
}

IDL::File_ptr CDataServerImpl::open_file(const char* accessPoint, const char* subDirectory,
                                         const char* fileName) {
  const char* place = "CDataServerImpl::open_file";
  if (!CConfinedFileId::sfIsPlainName(fileName)) {
    fail("File name \"" + std::string(fileName) + "\" is not a plain file name", "invalid file name", place);
  }
  // Messages name the file as the client did: its sub-directory too.
  const std::string subDirectoryText = subDirectory;
  const std::string name = subDirectoryText.empty() ? fileName : subDirectoryText + "/" + fileName;
  const CConfinedFileId file(accessPoint, subDirectory, fileName);
  failIfRefused(file, place);
  // Why a file cannot be reached at all (missing, a link that leads out) says more than
  // that no file type recognises it. Looked for beneath the access point's descriptor, where
  // the file is opened.
  std::string unreachable;
  if (!file.mfIsReachable(unreachable)) {
    fail("Unable to open " + name + ": " + unreachable, unreachable, place);
  }
  const std::optional<FileType> type = mfTypeOf(file);
  if (!type) {
    fail("Unable to open " + name + ": not a file this server reads",
         "no file type recognises the file", place);
  }
  // The identifier names the version of the file opened (field 10, carried to every
  // descendant), so that objects of one version never read another.
  const std::optional<Utility::CFileVersionU> version = file.mfGetVersion();
  const std::string versionText = version ? version->mfToText() : "";
  Utility::CObjectIdU builder;
  std::unique_ptr<IDL::ObjectId> id(builder.mfGetCorrectObjectId(
      accessPoint, subDirectory, fileName, type->driver.c_str(), "", type->typeId.c_str(), "",
      fileName, "", "", versionText.c_str()));
  if (const char* why = CObjectIdCodec::sfCheckFields(*id)) fail("Unable to open " + name + ": " + why, why, place);
  IDL::Base_var object = CResolverImpl::sfGetResolverImpl()->mfResolve(*id);
  if (CORBA::is_nil(object)) {
    fail("Unable to open " + name, "no servant for type " + type->typeId, place);
  }
  return IDL::File::_unchecked_narrow(object);
}

CORBA::ULong CDataServerImpl::get_chunk_size() {
  return CResolverImpl::sfGetResolverImpl()->mfGetChunkSize();
}

}  // namespace TamblixHq::NODRA::Framework
