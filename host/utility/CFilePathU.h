// Builds the key and path of a data file from an access-point name, a sub-directory and a
// file name, the one rule shared by the header registry and the file connections.
// Stateless; safe for concurrent use.
#pragma once

#include "host/utility/CStringU.h"

namespace TamblixHq::NODRA::Utility {

class CFilePathU {
public:
  static constexpr char kSeparator = '\\';

  // "<access point directory>" + ("\" + subDirectory when it is not empty) + "\" + fileName,
  // with the directory looked up in CAccessPointMapU ("" for an unknown name). No separator
  // is removed or doubled.
  static CStringU sfBuild(const CStringU& accessPoint, const CStringU& subDirectory, const CStringU& fileName);
};

}  // namespace TamblixHq::NODRA::Utility
