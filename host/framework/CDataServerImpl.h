// The server's root object: lists the access points and the data files of their
// directories, and opens a file's object through the resolver. File types are registered
// by the program with a detector that recognises their files. Safe to share between threads.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/files/CConfinedFileId.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CDataServerImpl : public virtual POA_TAMBLIX::NODRA::Framework::DataServer {
public:
  // True when the file is one the type reads; must only read it.
  using Detector = std::function<bool(const CConfinedFileId& file)>;

  CDataServerImpl() = default;

  // A file type: its driver name (identifier field 3), the type id of its file objects
  // and the detector of its files.
  void mpRegisterFileType(const std::string& driver, const std::string& typeId,
                          Detector detector);

  IDL::StringSeq* list_access_points() override;
  IDL::StringSeq* list_files(const char* accessPoint, const char* subDirectory) override;
  IDL::StringSeq* list_directories(const char* accessPoint, const char* subDirectory) override;
  IDL::File_ptr open_file(const char* accessPoint, const char* subDirectory,
                          const char* fileName) override;
  CORBA::ULong get_chunk_size() override;

private:
  struct FileType {
    std::string driver;
    std::string typeId;
    Detector detector;
  };

  // The names of the data files (or, with `directories`, of the sub-directories) directly in
  // a directory of an access point, sorted; raises DBAccessException with `place`.
  IDL::StringSeq* mfListDirectory(const char* accessPoint, const char* subDirectory, bool directories,
                                  const char* place);

  // The registered type that reads a file, if any.
  std::optional<FileType> mfTypeOf(const CConfinedFileId& file);

  std::mutex mMutex;
  std::vector<FileType> mTypes;
};

}  // namespace TamblixHq::NODRA::Framework
