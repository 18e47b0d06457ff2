// Writes the bundled example file examples/road-load.rsp: seven channels of a front wheel,
// the body and the driver over 8 seconds of a test track with one pothole at 4 s, as 2-byte
// samples at 512 Hz. Signals are synthetic; units are those rigs write (N, mm, m/s^2, g,
// deg, km/h); descriptions name a measurement point and direction; the file names the
// recording it was cut from as its parent.
//
//   make_example OUTPUT

#include <cmath>
#include <cstdio>
#include <exception>

#include "tests/support/Rpc3Writer.h"

namespace {

constexpr double kRate = 512.0;

// A pothole: a short pulse at 4 s.
double pothole(double t) { return std::exp(-std::pow((t - 4.0) / 0.05, 2)); }
double wave(double hertz, double t) { return std::sin(2 * M_PI * hertz * t); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example OUTPUT\n");
    return 2;
  }
  using namespace nodra::test;
  // Physical value of each channel at time t, and the scale it is stored with.
  struct Channel {
    Rpc3ChannelTexts mTexts;
    double mScale;
    double (*mSignal)(double t);
  };
  static const Channel channels[] = {
      {{"Front left:wheel force:+Z", "N", "0.5", "-16000", "16000"}, 0.5,
       [](double t) { return 4200 + 800 * wave(11, t) + 9000 * pothole(t); }},
      {{"Front left:wheel force:+X", "N", "0.25", "-8000", "8000"}, 0.25,
       [](double t) { return 300 * wave(7, t) - 3000 * pothole(t - 0.02); }},
      {{"Front left:damper travel:+Z", "mm", "0.005", "-100", "100"}, 0.005,
       [](double t) { return 12 * wave(1.3, t) + 55 * pothole(t - 0.01); }},
      {{"Front left:hub acceleration:+Z", "m/s^2", "0.005", "-150", "150"}, 0.005,
       [](double t) { return 3 * wave(13, t) + 60 * pothole(t); }},
      {{"Body:vertical acceleration:+Z", "g", "0.0001", "-3", "3"}, 0.0001,
       [](double t) { return 0.05 * wave(1.3, t) + 0.8 * pothole(t - 0.04); }},
      {{"Steering:angle:S", "deg", "0.01", "-300", "300"}, 0.01,
       [](double t) { return 25 * wave(0.25, t); }},
      {{"Vehicle:speed:S", "km/h", "0.005", "0", "160"}, 0.005,
       [](double t) { return 48 + 1.5 * t; }},
  };
  Rpc3FileLayout layout;
  layout.mChannels = static_cast<int>(std::size(channels));
  layout.mPtsPerFrame = 256;
  layout.mPtsPerGroup = 1024;
  layout.mFrames = 16;
  layout.mDeltaT = "0.001953125";
  layout.mDate = "014-Mar-2025 09:41:07";
  layout.mFormat = "BINARY_IEEE_LITTLE_END";
  for (const Channel& channel : channels) layout.mChannelTexts.push_back(channel.mTexts);
  layout.mExtraKeywords = {{"OPERATION", "make_example"},
                           {"FILE_TYPE", "TIME_HISTORY"},
                           {"TIME_TYPE", "RESPONSE"},
                           {"PARENT_1", "track-2025-03-14-run04.rsp"}};
  layout.mSample = [](int channel, std::int64_t index) {
    const Channel& c = channels[channel - 1];
    return c.mSignal(static_cast<double>(index - 1) / kRate) / c.mScale;
  };
  try {
    mpWriteFile(argv[1], mfBuildRpc3File(layout));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_example: %s\n", e.what());
    return 1;
  }
  return 0;
}
