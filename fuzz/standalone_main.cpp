// Runs a fuzz target over the files named on the command line, and over every file in the
// directories named there, for builds without libFuzzer: the seeds and the committed inputs
// of a corpus become regression tests.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// The files an argument stands for: itself, or a directory's regular files in name order.
bool collect(const std::string& argument, std::vector<std::string>& files) {
  std::error_code error;
  if (!std::filesystem::is_directory(argument, error)) {
    files.push_back(argument);
    return true;
  }
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(argument, error)) {
    if (entry.is_regular_file(error)) found.push_back(entry.path().string());
  }
  if (error) return false;
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (!collect(argv[i], files)) {
      std::fprintf(stderr, "cannot list %s\n", argv[i]);
      return 1;
    }
  }
  if (files.empty()) {  // a replay of nothing would pass unnoticed
    std::fprintf(stderr, "no inputs\n");
    return 1;
  }
  for (const std::string& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("%zu inputs run\n", files.size());
  return 0;
}
