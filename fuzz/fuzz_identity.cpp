// Fuzz target: the path from the bytes a client sends to a file that may be opened. The
// input is tried as object id bytes: the codec must refuse malformed bytes whole, and bytes
// it accepts must encode back to themselves. The access point, sub-directory and file name
// (fields 0 to 2 of an accepted id, or else the input cut at its first two 0xFF bytes) then
// go through confinement, with access points on a scratch directory that holds files, a
// sub-directory, and links that lead inside and outside. A name that is not refused must
// name a path inside its access point's directory, read back from its key to the same
// path, and resolve, if at all, to a real path inside the real directory.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "host/files/CConfinedFileId.h"
#include "host/framework/CObjectIdCodec.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/CLoggerU.h"

namespace Framework = TamblixHq::NODRA::Framework;
namespace Utility = TamblixHq::NODRA::Utility;
namespace IDL = ::TAMBLIX::NODRA::Framework;

namespace {

// Access point "ap" on a scratch directory, "sub" on a directory inside it; removed at exit.
struct Scratch {
  std::string directory, realDirectory;

  Scratch() {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "nodra-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    directory = pattern;
    realDirectory = fs::canonical(directory).string();
    const fs::path root(directory);
    fs::create_directories(root / "sub" / "deeper");
    for (const char* file : {"a.rsp", "sub/b.rsp", "sub/deeper/c.rsp"}) {
      if (std::FILE* f = std::fopen((root / file).c_str(), "w")) std::fclose(f);
    }
    fs::create_symlink("sub", root / "in");       // leads inside
    fs::create_symlink("/", root / "out");        // leads outside
    fs::create_symlink("..", root / "up");        // leads outside
    fs::create_symlink("a.rsp", root / "link.rsp");
    auto* map = Utility::CAccessPointMapU::sfGetAccessPointMapU();
    map->mpSetAccessPoint("ap", Utility::CStringU(directory));
    map->mpSetAccessPoint("sub", Utility::CStringU(directory + "/sub"));
    Utility::CLoggerU::sfGetLoggerU(0)->mpSetEnabled(false);
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);  // removes links, not what they name
  }
};

const Scratch& scratch() {
  static const Scratch instance;
  return instance;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool hasDotDotComponent(const std::string& path) {
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = std::min(path.find('/', begin), path.size());
    if (path.compare(begin, end - begin, "..") == 0) return true;
    if (end == path.size()) return false;
    begin = end + 1;
  }
}

void checkConfinement(const Utility::CStringU& accessPoint, const Utility::CStringU& subDirectory,
                      const Utility::CStringU& fileName) {
  const Framework::CConfinedFileId id(accessPoint, subDirectory, fileName);
  if (id.mfIsRefused()) {
    if (id.mfGetRefusalText().empty()) std::abort();
    std::string realPath, error;
    if (id.mfResolve(realPath, error)) std::abort();  // a refused name resolved
    return;
  }
  const std::string directory =
      Utility::CAccessPointMapU::sfGetAccessPointMapU()->mfGetAccessPointValue(accessPoint).mfStd();
  const std::string& path = id.mfGetPath();
  if (!startsWith(path, directory + "/") || path.find('\0') != std::string::npos ||
      hasDotDotComponent(path.substr(directory.size()))) {
    std::abort();  // an accepted name leads out of its directory by its text alone
  }
  const Framework::CConfinedFileId fromKey = Framework::CConfinedFileId::sfFromKey(id.mfGetKey());
  if (fromKey.mfIsRefused() || fromKey.mfGetPath() != path) std::abort();

  std::string realPath, error;
  if (!id.mfResolve(realPath, error)) {
    if (error.empty()) std::abort();
    return;
  }
  const std::string& real = scratch().realDirectory;
  if (realPath != real && !startsWith(realPath, real + "/")) std::abort();  // resolved outside
  if (auto source = Framework::CConfinedFileId::sfOpenResolved(realPath, error)) {
    if (source->mfGetSize() < 0) std::abort();
  }
}

// The input cut at its first two 0xFF bytes (never part of UTF-8 text); missing parts are empty.
std::vector<Utility::CStringU> splitNames(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<Utility::CStringU> parts;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < size && parts.size() < 2; ++i) {
    if (data[i] != 0xFF) continue;
    parts.emplace_back(text + begin, i - begin);
    begin = i + 1;
  }
  if (begin < size) parts.emplace_back(text + begin, size - begin);
  parts.resize(3);
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)scratch();
  IDL::ObjectId id;
  id.label = "untouched";
  const bool accepted = Framework::CObjectIdCodec::sfDecode(data, size, id);
  if (!accepted) {
    if (std::string(id.label.in()) != "untouched" || std::string(id.access_point.in()) != "") {
      std::abort();  // a refused id was assigned in part
    }
    const std::vector<Utility::CStringU> names = splitNames(data, size);
    checkConfinement(names[0], names[1], names[2]);
    return 0;
  }
  const std::string encoded = Framework::CObjectIdCodec::sfEncode(id);
  if (encoded.size() != size || encoded.compare(0, size, reinterpret_cast<const char*>(data), size) != 0) {
    std::abort();  // accepted bytes that do not encode back to themselves
  }
  checkConfinement(Utility::CStringU(id.access_point.in()), Utility::CStringU(id.sub_directory.in()),
                   Utility::CStringU(id.file_name.in()));
  return 0;
}
