// Base implementation of file objects: the files behind the object, their size, a check
// that they can be read, and annotations from a side file. Safe to share between threads.
#pragma once

#include <string>
#include <vector>

#include "host/framework/CBrowsableImpl.h"
#include "host/files/CConfinedFileId.h"
#include "host/utility/CStringU.h"

namespace TamblixHq::NODRA::Framework {

class CFileImpl : public virtual POA_TAMBLIX::NODRA::Framework::File,
                  public virtual CBrowsableImpl {
public:
  CFileImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CFileImpl() override;

  // File
  IDL::AnnotationSeq* get_file_annotation() override;
  CORBA::ULong get_number_of_files() override;
  CORBA::ULongLong get_file_size() override;
  IDL::StringSeq* get_files() override;
  void load() override;
  void load_with_filter(const char* filter) override;
  // Annotations of the side file "<file>.<name>": one "keyword=value" per line, each a
  // string annotation of group `name`. Empty when there is no such file.
  IDL::AnnotationSeq* get_external_annotation(const char* name) override;
  // Refuses: a file type whose header is made of records answers it itself.
  IDL::HeaderReading* get_header_reading() override;

protected:
  // The contents of the side file "<file>.<suffix>" (at most 64 KiB), or false when it
  // cannot be opened.
  virtual bool mfGetExternalStream(const char* suffix, std::string& contents);
  // Prepares the file list; called before it is used. True when it is ready.
  virtual bool mfInitMembers();
  // The first file's name without its extension.
  virtual Utility::CStringU mfBaseName();

  // A file of this object's directory.
  CConfinedFileId mfFileIdentity(const Utility::CStringU& fileName) const;

private:
  // Opens each file whose name contains `filter`; returns the sum of their sizes.
  CORBA::ULongLong mfCheckFiles(const char* filter, const char* place);
};

}  // namespace TamblixHq::NODRA::Framework
