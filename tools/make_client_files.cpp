// Writes the files the Python client's tests read, and what they must read from them: for
// each of 2-byte and 4-byte samples in both byte orders, an RPC III file of three channels
// longer than one chunk of the data API, NAME.json (each channel's label, unit, count, first
// time and spacing) and NAME.f32 (every value the reader must give, little-endian float32,
// one channel after another), computed from the samples written, not read back.
//
//   make_client_files DIR
//   make_client_files DIR --long VALUES   one file, long.rsp: one channel of VALUES 2-byte
//                                         samples, for the data API's benchmark

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "tests/support/Rpc3Writer.h"

namespace {

using namespace nodra::test;

constexpr int kChannels = 3;
constexpr int kPointsPerFrame = 1000;
constexpr std::int64_t kFrames = 70;  // 70 000 values: more than one chunk of 65 536
const char* const kScales[kChannels] = {"0.5", "0.25", "2"};  // powers of two: exact
const double kScaleValues[kChannels] = {0.5, 0.25, 2};

// Whole numbers over the whole 2-byte range, extremes included, for short data; floats with
// fractions for float data.
double sample(bool floats, int channel, std::int64_t index) {
  if (floats) return static_cast<float>(std::sin(0.001 * static_cast<double>(index) * channel) * 1000.0 + channel);
  if (index == 1) return channel == 1 ? 32767 : -32768;
  return static_cast<double>((index * 7919 + channel * 104729) % 65536) - 32768;
}

void writeFile(const std::string& dir, const std::string& name, bool floats, bool bigEndian) {
  Rpc3FileLayout layout;
  layout.mChannels = kChannels;
  layout.mPtsPerFrame = kPointsPerFrame;
  layout.mFrames = kFrames;
  layout.mFloat = floats;
  layout.mFormat = bigEndian ? "BINARY_IEEE_BIG_END" : "BINARY_IEEE_LITTLE_END";
  layout.mDeltaT = "0.0009765625";
  layout.mDate = "014-Mar-2025 09:41:07";  // as the example writes it: read as 2025-03-14T09:41:07
  layout.mHeaderForm = bigEndian ? Rpc3HeaderForm::eFilled : Rpc3HeaderForm::ePadded;
  layout.mChannelTexts = {{"Hub:force:+Z", "N", kScales[0], "-16384", "16384"},
                          {"Damper:travel:+Z", "mm", kScales[1], "-8192", "8192"},
                          {"Axle:strain:S", "ue", kScales[2], "-65536", "65536"}};
  layout.mSample = [floats](int channel, std::int64_t index) { return sample(floats, channel, index); };
  mpWriteFile(dir + "/" + name + ".rsp", mfBuildRpc3File(layout));

  const std::int64_t count = kFrames * kPointsPerFrame;
  Bytes values;
  values.reserve(static_cast<std::size_t>(4 * kChannels * count));
  std::string json = "{\"channels\": [";
  for (int c = 1; c <= kChannels; ++c) {
    const Rpc3ChannelTexts& texts = layout.mChannelTexts[c - 1];
    json += std::string(c > 1 ? ", " : "") + "{\"number\": " + std::to_string(c) + ", \"label\": \"" + texts.mDesc +
            "\", \"unit\": \"" + texts.mUnits + "\", \"count\": " + std::to_string(count) +
            ", \"first\": 0, \"spacing\": 0.0009765625}";
    for (std::int64_t i = 1; i <= count; ++i) {
      const float value = static_cast<float>(sample(floats, c, i) * kScaleValues[c - 1]);
      std::uint32_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      for (int b = 0; b < 4; ++b) values.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
    }
  }
  json += "]}\n";
  mpWriteFile(dir + "/" + name + ".f32", values);
  mpWriteFile(dir + "/" + name + ".json", Bytes(json.begin(), json.end()));
}

void writeLongFile(const std::string& dir, std::int64_t values) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 1024;
  layout.mFrames = (values + 1023) / 1024;
  layout.mDeltaT = "0.0009765625";
  layout.mDate = "014-Mar-2025 09:41:07";  // as the example writes it: read as 2025-03-14T09:41:07
  layout.mChannelTexts = {{"Hub:force:+Z", "N", "0.5", "-16384", "16384"}};
  layout.mSample = [](int, std::int64_t index) { return static_cast<double>((index * 7919) % 65536) - 32768; };
  mpWriteFile(dir + "/long.rsp", mfBuildRpc3File(layout));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--long")) {
    std::fprintf(stderr, "usage: make_client_files DIR [--long VALUES]\n");
    return 2;
  }
  try {
    if (argc == 4) {
      writeLongFile(argv[1], std::stoll(argv[3]));
      return 0;
    }
    for (const bool floats : {false, true}) {
      for (const bool bigEndian : {false, true}) {
        writeFile(argv[1], std::string(floats ? "f32" : "i16") + (bigEndian ? "-be" : "-le"), floats, bigEndian);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_client_files: %s\n", e.what());
    return 1;
  }
  return 0;
}
