// Exclusive use of one pooled open handle of a data file for the guard's life; the handle
// goes back to CFilePool when the guard is destroyed. A guard belongs to one thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/files/CBinaryFilePtrConnID.h"
#include "host/utility/CFileU.h"

namespace TamblixHq::NODRA::Framework {

class CFilePtrConnGuard {
public:
  // A handle of the file the path names now.
  explicit CFilePtrConnGuard(const CBinaryFilePtrConnID& id);
  // A handle of version `expected` of the file when one is pooled (one fstat, no path
  // looked up); otherwise the file opened anew, whose version the caller compares.
  CFilePtrConnGuard(const CBinaryFilePtrConnID& id, const std::optional<Utility::CFileVersionU>& expected);
  ~CFilePtrConnGuard();
  CFilePtrConnGuard(const CFilePtrConnGuard&) = delete;
  CFilePtrConnGuard& operator=(const CFilePtrConnGuard&) = delete;

  // The open file, positioned at byte 0 when the guard was made; null when the file is
  // refused (see CConfinedFileId) or cannot be opened.
  Utility::CFileU* mfFilePtr() const;
  // One line saying why mfFilePtr() is null; empty otherwise.
  const std::string& mfGetError() const;

private:
  std::string mRealPath;
  std::string mError;
  std::unique_ptr<Utility::CFileU> mFile;
};

}  // namespace TamblixHq::NODRA::Framework
