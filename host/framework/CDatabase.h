// Base implementation of file objects that serve a set of named files: keeps the number
// of files and their names, which the derived servant sets once at construction.
// Safe to share between threads once constructed.
#pragma once

#include <memory>

#include "host/framework/CFileImpl.h"

namespace TamblixHq::NODRA::Framework {

class CDatabase : public virtual CFileImpl {
public:
  CDatabase(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CDatabase() override;

  CORBA::ULong get_number_of_files() override;
  IDL::StringSeq* get_files() override;

protected:
  // Takes ownership of an array of `count` names made with new[]; freed with the object.
  void mpSetFiles(CORBA::ULong count, Utility::CStringU* names);
  void mpFillAnnotationContainer() override;

private:
  CORBA::ULong mNumberOfFiles = 0;
  std::unique_ptr<Utility::CStringU[]> mFileNames;
};

}  // namespace TamblixHq::NODRA::Framework
