#include "host/framework/CFileImpl.h"

#include <cstring>

#include "host/files/CBinaryFilePtrConnID.h"
#include "host/files/CFilePtrConnGuard.h"
#include "host/utility/RaiseLogged.h"

namespace TamblixHq::NODRA::Framework {

using Utility::CStringU;

CFileImpl::CFileImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa), CBrowsableImpl(id, poa) {}

CFileImpl::~CFileImpl() = default;

IDL::AnnotationSeq* CFileImpl::get_file_annotation() { return get_all_annotations(); }

CORBA::ULong CFileImpl::get_number_of_files() { return 1; }

IDL::StringSeq* CFileImpl::get_files() {
  auto* files = new IDL::StringSeq;
  files->length(1);
  (*files)[0] = mfGetId().file_name;
  return files;
}

bool CFileImpl::mfInitMembers() { return true; }

CStringU CFileImpl::mfBaseName() {
  std::string name = static_cast<const char*>(mfGetId().file_name);
  std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return CStringU(name);
}

CConfinedFileId CFileImpl::mfFileIdentity(const CStringU& fileName) const {
  return CConfinedFileId(mfGetId()).mfSibling(fileName);
}

CORBA::ULongLong CFileImpl::mfCheckFiles(const char* filter, const char* place) {
  mfInitMembers();
  IDL::StringSeq_var files = get_files();
  CORBA::ULongLong total = 0;
  for (CORBA::ULong i = 0; i < files->length(); ++i) {
    const char* name = files[i];
    if (filter && *filter && !std::strstr(name, filter)) continue;
    CBinaryFilePtrConnID connection(mfFileIdentity(name));
    CFilePtrConnGuard guard(connection);
    if (!guard.mfFilePtr()) {
      Utility::raiseLogged<IDL::DBAccessException>(std::string("Unable to open ") + name,
                                                   guard.mfGetError(), place);
    }
    total += static_cast<CORBA::ULongLong>(guard.mfFilePtr()->mfGetSize());
  }
  return total;
}

CORBA::ULongLong CFileImpl::get_file_size() {
  return mfCheckFiles(nullptr, "CFileImpl::get_file_size");
}

void CFileImpl::load() { mfCheckFiles(nullptr, "CFileImpl::load"); }

void CFileImpl::load_with_filter(const char* filter) {
  mfCheckFiles(filter, "CFileImpl::load_with_filter");
}

bool CFileImpl::mfGetExternalStream(const char* suffix, std::string& contents) {
  constexpr std::size_t kMaxSideFile = 64 * 1024;
  CStringU name(mfGetId().file_name);
  name.mfAddChar('.').mfAddString(suffix);
  CBinaryFilePtrConnID connection(mfFileIdentity(name));
  CFilePtrConnGuard guard(connection);
  Utility::CFileU* file = guard.mfFilePtr();
  if (!file) return false;
  std::int64_t size = file->mfGetSize();
  contents.resize(static_cast<std::size_t>(
      std::min<std::int64_t>(size < 0 ? 0 : size, static_cast<std::int64_t>(kMaxSideFile))));
  contents.resize(file->mfRead(contents.data(), 1, contents.size()));
  return true;
}

IDL::AnnotationSeq* CFileImpl::get_external_annotation(const char* name) {
  auto* result = new IDL::AnnotationSeq;
  std::string contents;
  // Only a plain suffix: the side file must stay beside the data file.
  if (!name || !CConfinedFileId::sfIsPlainName(name) ||
      !mfGetExternalStream(name, contents)) {
    return result;
  }
  std::size_t pos = 0;
  while (pos < contents.size()) {
    std::size_t end = contents.find('\n', pos);
    if (end == std::string::npos) end = contents.size();
    std::string line = contents.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
    CORBA::ULong n = result->length();
    result->length(n + 1);
    IDL::Annotation& a = (*result)[n];
    a.definition.name = CStringU(line.substr(0, equals)).mfRemoveBlanks(5).mfGetString();
    a.definition.group = name;
    a.definition.owner_type = mfGetId().type_id;
    a.value.string_value(CStringU(line.substr(equals + 1)).mfRemoveBlanks(5).mfGetString());
  }
  return result;
}

IDL::HeaderReading* CFileImpl::get_header_reading() {
  Utility::raiseLogged<IDL::DBAccessException>("This file has no header of records to show",
                                               "not a file of header records",
                                               "CFileImpl::get_header_reading");
}

}  // namespace TamblixHq::NODRA::Framework
