// Writes the bundled example file examples/road-load.rsp: four channels of a short drive
// over a test track, 2-byte samples at 512 Hz for 8 seconds.
//
//   make_example OUTPUT

#include <cmath>
#include <cstdio>

#include "tests/support/Rpc3Writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example OUTPUT\n");
    return 2;
  }
  using namespace nodra::test;
  Rpc3FileLayout layout;
  layout.mChannels = 4;
  layout.mPtsPerFrame = 256;
  layout.mPtsPerGroup = 1024;
  layout.mFrames = 16;
  layout.mDeltaT = "0.001953125";
  layout.mDate = "014-Mar-2025 09:41:07";
  layout.mFormat = "BINARY_IEEE_LITTLE_END";
  layout.mChannelTexts = {{"Front left:wheel force:+Z", "kN", "0.001", "-30", "30"},
                          {"Front left:hub acceleration:+Z", "g", "0.0005", "-15", "15"},
                          {"Steering:angle:S", "deg", "0.01", "-300", "300"},
                          {"Vehicle:speed:S", "km/h", "0.005", "0", "160"}};
  layout.mExtraKeywords = {{"OPERATION", "make_example"}, {"FILE_TYPE", "TIME_HISTORY"},
                           {"TIME_TYPE", "RESPONSE"}};
  layout.mSample = [](int channel, std::int64_t index) {
    const double t = (index - 1) / 512.0;
    const double bump = std::exp(-std::pow((t - 4.0) / 0.05, 2));
    switch (channel) {
      case 1: return (4.2 + 0.8 * std::sin(2 * M_PI * 11 * t) + 9.0 * bump) / 0.001;
      case 2: return (0.3 * std::sin(2 * M_PI * 13 * t) + 6.0 * bump) / 0.0005;
      case 3: return 25.0 * std::sin(2 * M_PI * 0.25 * t) / 0.01;
      default: return (48.0 + 1.5 * t) / 0.005;
    }
  };
  mpWriteFile(argv[1], mfBuildRpc3File(layout));
  return 0;
}
