// Identifies the data file of a file connection: the backslash key the drivers build and
// the '/' path the file layer opens. Immutable after construction; safe to share.
#pragma once

#include <string>

#include "host/utility/CObjectIdU.h"
#include "host/utility/CStringU.h"

namespace TamblixHq::NODRA::Framework {

class CBinaryFilePtrConnID {
public:
  // path as "<access point directory>\<sub-directory>\<file>" or without the sub-directory.
  explicit CBinaryFilePtrConnID(const Utility::CStringU& path);
  // The path of fields 0, 1 and 2 (access point, sub-directory, file) as CFilePathU::sfBuild.
  explicit CBinaryFilePtrConnID(const Utility::CObjectIdU& id);

  const Utility::CStringU& mfGetKey() const;  // the backslash text
  const std::string& mfGetPath() const;       // the key with every backslash mapped to '/'

  // The key of a path with every backslash mapped to '/'; other bytes, NULs included, kept.
  static std::string sfToSlashes(const std::string& key);

private:
  Utility::CStringU mKey;
  std::string mPath;
};

}  // namespace TamblixHq::NODRA::Framework
