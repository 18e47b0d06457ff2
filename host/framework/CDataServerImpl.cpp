#include "host/framework/CDataServerImpl.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/framework/CResolverImpl.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/RaiseLogged.h"
#include "host/utility/CObjectIdU.h"

namespace TamblixHq::NODRA::Framework {

namespace fs = std::filesystem;
using Utility::CStringU;

namespace {

[[noreturn]] void fail(const std::string& message, const std::string& reason, const char* place) {
  Utility::raiseLogged<IDL::DBAccessException>(message, reason, place);
}

// A name that stays inside its directory: relative, no "..", no NUL (texts cannot hold one).
bool isContained(const std::string& name) {
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return false;
  std::size_t pos = 0;
  while (pos <= name.size()) {
    std::size_t end = name.find_first_of("/\\", pos);
    if (end == std::string::npos) end = name.size();
    if (name.compare(pos, end - pos, "..") == 0 && end - pos == 2) return false;
    pos = end + 1;
  }
  return true;
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

std::string CDataServerImpl::mfDirectory(const char* accessPoint, const char* subDirectory,
                                         const char* place) {
  CStringU directory =
      Utility::CAccessPointMapU::sfGetAccessPointMapU()->mfGetAccessPointValue(accessPoint);
  if (directory.mfIsEmpty()) {
    fail(std::string("Unknown access point \"") + accessPoint + "\"", "no such access point",
         place);
  }
  std::string sub = subDirectory;
  if (!isContained(sub)) {
    fail(std::string("Sub-directory \"") + sub + "\" leaves the access point",
         "path outside the access point", place);
  }
  std::string path = directory.mfStd();
  if (!sub.empty()) path += "/" + sub;
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::optional<CDataServerImpl::FileType> CDataServerImpl::mfTypeOf(const std::string& path) {
  std::vector<FileType> types;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    types = mTypes;
  }
  // Detectors read the file: run them without the lock.
  for (const FileType& type : types) {
    if (type.detector(path)) return type;
  }
  return std::nullopt;
}

IDL::StringSeq* CDataServerImpl::list_files(const char* accessPoint, const char* subDirectory) {
  const char* place = "CDataServerImpl::list_files";
  std::string directory = mfDirectory(accessPoint, subDirectory, place);
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(directory, error);
  if (error) fail("Unable to list " + directory, error.message(), place);
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) fail("Unable to list " + directory, error.message(), place);
    std::error_code ignored;
    if (!it->is_regular_file(ignored)) continue;
    if (mfTypeOf(it->path().string())) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  auto* files = new IDL::StringSeq;
  files->length(static_cast<CORBA::ULong>(names.size()));
  for (CORBA::ULong i = 0; i < names.size(); ++i) (*files)[i] = names[i].c_str();
  return files;
}

IDL::File_ptr CDataServerImpl::open_file(const char* accessPoint, const char* subDirectory,
                                         const char* fileName) {
  const char* place = "CDataServerImpl::open_file";
  std::string directory = mfDirectory(accessPoint, subDirectory, place);
  std::string name = fileName;
  if (name.empty() || !isContained(name) || name.find_first_of("/\\") != std::string::npos) {
    fail("File name \"" + name + "\" is not a plain file name", "invalid file name", place);
  }
  const std::optional<FileType> type = mfTypeOf(directory + "/" + name);
  if (!type) {
    fail("Unable to open " + name + ": not a file this server reads, or missing",
         "no file type recognises the file", place);
  }
  Utility::CObjectIdU builder;
  std::unique_ptr<IDL::ObjectId> id(builder.mfGetCorrectObjectId(
      accessPoint, subDirectory, fileName, type->driver.c_str(), "", type->typeId.c_str(), "",
      fileName, "", "", ""));
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
