#include "host/framework/CDatabase.h"

namespace TamblixHq::NODRA::Framework {

CDatabase::CDatabase(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa), CBrowsableImpl(id, poa), CFileImpl(id, poa) {}

CDatabase::~CDatabase() = default;

void CDatabase::mpSetFiles(CORBA::ULong count, Utility::CStringU* names) {
  mFileNames.reset(names);
  mNumberOfFiles = names ? count : 0;
}

CORBA::ULong CDatabase::get_number_of_files() { return mNumberOfFiles; }

IDL::StringSeq* CDatabase::get_files() {
  auto* files = new IDL::StringSeq;
  files->length(mNumberOfFiles);
  for (CORBA::ULong i = 0; i < mNumberOfFiles; ++i) {
    (*files)[i] = mFileNames[i].mfGetString();
  }
  return files;
}

void CDatabase::mpFillAnnotationContainer() { CFileImpl::mpFillAnnotationContainer(); }

}  // namespace TamblixHq::NODRA::Framework
