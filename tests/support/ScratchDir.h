// A fresh directory under the system's temporary directory for one test, removed with
// everything in it when the object dies. Not shared between threads while files are added.

#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace nodra::test {

class ScratchDir {
public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nodra-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a scratch directory");
    mPath = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(mPath, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& mfPath() const { return mPath; }
  // The directory as text, without a trailing separator.
  std::string mfText() const { return mPath.string(); }
  // Full path of an entry relative to the directory (the entry need not exist).
  std::string mfFile(const std::string& relative) const { return (mPath / relative).string(); }

  // Writes a file (parent directories created as needed) and returns its full path.
  std::string mfWriteFile(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
    return mfWrite(relative, reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  std::string mfWriteFile(const std::string& relative, const std::string& text) const {
    return mfWrite(relative, text.data(), text.size());
  }
  // Makes a directory (and its parents) and returns its full path.
  std::string mfMakeDir(const std::string& relative) const {
    std::filesystem::create_directories(mPath / relative);
    return mfFile(relative);
  }

private:
  std::string mfWrite(const std::string& relative, const char* data, std::size_t size) const {
    const std::filesystem::path file = mPath / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
    if (!out) throw std::runtime_error("cannot write " + file.string());
    return file.string();
  }

  std::filesystem::path mPath;
};

// The whole content of a file (a program's log, its output); empty when it cannot be read.
inline std::string mfReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace nodra::test
