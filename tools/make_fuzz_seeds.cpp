// Writes the seed inputs of the fuzz targets, one directory per target, with the test file
// writer: small files of every sample width, byte order and group layout, windows that
// cross frames and groups, and object ids and names that lead inside and outside an access
// point. Run at build time (fuzz/CMakeLists.txt).
//
//   make_fuzz_seeds DIRECTORY

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/Rpc3Writer.h"

namespace {

using namespace nodra::test;

struct NamedFile {
  std::string mName;
  Rpc3FileLayout mLayout;
};

// Small files, each a few hundred bytes to a few KB.
std::vector<NamedFile> seedFiles() {
  std::vector<NamedFile> files;
  Rpc3FileLayout plain;
  plain.mChannels = 2;
  plain.mPtsPerFrame = 8;
  plain.mFrames = 3;
  plain.mSample = [](int channel, std::int64_t index) { return channel * 1000 - index * 37; };
  files.push_back({"short-le", plain});

  Rpc3FileLayout grouped = plain;
  grouped.mChannels = 3;
  grouped.mPtsPerFrame = 4;
  grouped.mPtsPerGroup = 12;  // three frames a group
  grouped.mFrames = 7;        // the last group in part
  grouped.mFormat = "BINARY_IEEE_BIG_END";
  grouped.mChannelTexts = {{"", "", "0.5", "", ""}, {"", "", "-2", "", ""}, {"", "", "1e-3", "", ""}};
  files.push_back({"short-be-groups", grouped});

  Rpc3FileLayout floats = plain;
  floats.mFloat = true;
  floats.mPtsPerFrame = 5;
  floats.mPtsPerGroup = 11;  // not a multiple of the frame
  floats.mSample = [](int channel, std::int64_t index) { return channel / 3.0 + index * 1e30; };
  files.push_back({"float-le-odd-group", floats});

  Rpc3FileLayout floatsBig = floats;
  floatsBig.mFormat = "binary_ieee_big_end";
  floatsBig.mChannelTexts = {{"", "", "3.5e38", "", ""}};  // saturates
  files.push_back({"float-be", floatsBig});

  Rpc3FileLayout wide = plain;
  wide.mChannels = 6;
  wide.mPtsPerFrame = 2;
  wide.mFrames = 2;
  wide.mExtraKeywords = {{"PARENT_1", "run-01.rsp"}, {"PARENT_2", "run-02.rsp"}};
  files.push_back({"many-channels", wide});

  Rpc3FileLayout filled = grouped;
  filled.mHeaderForm = Rpc3HeaderForm::eFilled;  // the record after the header is sample data
  files.push_back({"filled-header", filled});
  return files;
}

// An object id as the codec writes it: per field a 4-byte little-endian length, then the text.
std::string objectId(const std::vector<std::string>& fields) {
  std::string bytes;
  for (std::size_t i = 0; i < 11; ++i) {
    const std::string text = i < fields.size() ? fields[i] : "";
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<char>((text.size() >> (8 * b)) & 0xFF));
    bytes += text;
  }
  return bytes;
}

std::string littleEndian(std::uint32_t value, int bytes) {
  std::string text;
  for (int b = 0; b < bytes; ++b) text.push_back(static_cast<char>((value >> (8 * b)) & 0xFF));
  return text;
}

// A chunk request as fuzz_rpc3_chunk reads it: channel, first value and count selectors.
std::string request(std::uint16_t channel, std::uint32_t first, std::uint16_t count) {
  return littleEndian(channel, 2) + littleEndian(first, 4) + littleEndian(count, 2);
}

void write(const std::filesystem::path& path, const std::string& bytes) {
  mpWriteFile(path.string(), Bytes(bytes.begin(), bytes.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIRECTORY\n");
    return 2;
  }
  try {
    namespace fs = std::filesystem;
    const fs::path root(argv[1]);
    for (const char* target : {"rpc3_header", "rpc3_chunk", "identity"}) fs::create_directories(root / target);

    for (const NamedFile& file : seedFiles()) {
      const Bytes bytes = mfBuildRpc3File(file.mLayout);
      const std::string text(bytes.begin(), bytes.end());
      write(root / "rpc3_header" / file.mName, text);
      // Channel selectors count from 0 (refused) to C + 1 (refused): here the first and the
      // last channel, windows from the start and across a frame boundary.
      const auto last = static_cast<std::uint16_t>(file.mLayout.mChannels);
      write(root / "rpc3_chunk" / file.mName,
            request(1, 0, 15) + request(last, file.mLayout.mPtsPerFrame - 2, 40) + text);
    }
    Rpc3FileLayout cut;
    cut.mChannels = 4;
    const Bytes whole = mfBuildRpc3File(cut);
    write(root / "rpc3_header" / "cut-in-header", std::string(whole.begin(), whole.begin() + 700));
    write(root / "rpc3_chunk" / "cut-in-data",
          request(4, 9, 30) + request(0, 0, 1) + std::string(whole.begin(), whole.end() - 9));

    // Access point "ap" is the fuzz target's scratch directory, "sub" a directory inside it.
    const fs::path ids = root / "identity";
    write(ids / "file", objectId({"ap", "", "a.rsp", "RPC3", "", "File"}));
    write(ids / "sub-directory", objectId({"ap", "sub", "b.rsp", "RPC3", "", "Channel", "", "", "Y", "2"}));
    write(ids / "nested-access-point", objectId({"sub", "deeper", "c.rsp"}));
    write(ids / "backslashes", objectId({"ap", "sub\\deeper", "c.rsp"}));
    write(ids / "link-inside", objectId({"ap", "in", "b.rsp"}));
    write(ids / "link-outside", objectId({"ap", "out", "etc"}));
    write(ids / "link-up", objectId({"ap", "up", ""}));
    write(ids / "dot-dot", objectId({"ap", "sub/..", "a.rsp"}));
    write(ids / "unknown-access-point", objectId({"nowhere", "", "a.rsp"}));
    write(ids / "names-absolute", "ap\xff/etc\xff" "passwd");
    write(ids / "names-dot-dot", "ap\xff" "sub\xff..\\a.rsp");
    write(ids / "names-link", "ap\xff\xff" "link.rsp");
    write(ids / "names-directory", "sub\xff\xff");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
