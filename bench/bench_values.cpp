// In process: chunks of one channel of a cached file of about 100 MB through the values
// object (real references, the whole request path), beside the floor they are held
// against, a pread of the same bytes followed by a plain decode loop; and opening and
// listing files of 50, 200 and 800 channels, beside opening them and counting their channels.
//
//   build/bench/bench_values [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "clients/cpp/FileListing.h"
#include "host/utility/CAccessPointMapU.h"
#include "tests/support/OrbHarness.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
using namespace nodra::test;

constexpr int kChannels = 8;
constexpr int kChannel = 5;  // the channel read, from 1
constexpr int kPointsPerFrame = 1024;
constexpr int kPointsPerGroup = 4 * kPointsPerFrame;
constexpr std::int64_t kFrames = 6400;  // 8 channels x 6.5 M values x 2 bytes: 105 MB
constexpr std::int64_t kValues = kFrames * kPointsPerFrame;
constexpr float kScale = 0.25f;

struct BenchFile {
  ScratchDir dir;
  std::string path;
  std::int64_t bytes = 0;
  Rpc3FileLayout layout;

  BenchFile() {
    Rpc3FileLayout& file = layout;
    file.mChannels = kChannels;
    file.mPtsPerFrame = kPointsPerFrame;
    file.mPtsPerGroup = kPointsPerGroup;
    file.mFrames = kFrames;
    file.mChannelTexts.assign(kChannels, Rpc3ChannelTexts{"", "", "0.25", "", ""});
    file.mSample = [](int channel, std::int64_t index) {
      return static_cast<double>((index * 31 + channel) % 20000 - 10000);
    };
    Bytes data = mfBuildRpc3File(file);
    bytes = static_cast<std::int64_t>(data.size());
    path = dir.mfFile("bench.rsp");
    mpWriteFile(path, data);
    TamblixHq::NODRA::Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(
        "bench", dir.mfText().c_str());
  }
};

BenchFile& benchFile() {
  static BenchFile file;
  return file;
}

void setCounters(benchmark::State& state, std::int64_t chunk) {
  state.counters["values/s"] =
      benchmark::Counter(static_cast<double>(chunk) * state.iterations(), benchmark::Counter::kIsRate);
}

// One get_value_chunk call per iteration, walking the channel chunk by chunk.
void BM_ValuesObjectChunk(benchmark::State& state) {
  benchFile();
  OrbHarness& orb = OrbHarness::sfGet();
  IDL::File_var object = orb.mServerRef->open_file("bench", "", "bench.rsp");
  IDL::BrowsableStructSeq_var children = object->get_all_children();
  IDL::Function2D_var channel = IDL::Function2D::_narrow(children[kChannel - 1].reference);
  IDL::FunctionValues_var fv = channel->get_values_by_index(0, IDL::Y);
  IDL::RealValues_var values = IDL::RealValues::_narrow(fv);
  const auto chunk = static_cast<std::int64_t>(state.range(0));
  std::int64_t start = 1;
  float checksum = 0;
  for (auto _ : state) {
    IDL::RealValueSeqUnion_var part =
        values->get_value_chunk(static_cast<CORBA::ULong>(start), static_cast<CORBA::ULong>(chunk));
    checksum += part->float_sequence()[0];
    start = start + chunk > kValues ? 1 : start + chunk;
  }
  benchmark::DoNotOptimize(checksum);
  setCounters(state, chunk);
}
BENCHMARK(BM_ValuesObjectChunk)->Arg(64 * 1024)->Arg(1024)->UseRealTime();

// The floor: the frames of the same chunk, read run by run with pread into one buffer, then
// decoded to scaled floats in a simple loop.
void BM_PreadAndDecode(benchmark::State& state) {
  BenchFile& file = benchFile();
  const int fd = ::open(file.path.c_str(), O_RDONLY);
  const auto chunk = static_cast<std::int64_t>(state.range(0));
  std::vector<std::int16_t> stored(static_cast<std::size_t>(chunk));
  std::vector<float> decoded(static_cast<std::size_t>(chunk));
  // Byte positions by the layout's arithmetic: the data start after the header, groups of
  // G samples per channel one after another.
  const std::int64_t dataStart = mfGetRpc3SampleOffset(file.layout, 1, 1);
  auto framePosition = [&](std::int64_t frame) {
    constexpr std::int64_t kFramesPerGroup = kPointsPerGroup / kPointsPerFrame;
    const std::int64_t group = (frame - 1) / kFramesPerGroup, inGroup = (frame - 1) % kFramesPerGroup;
    return dataStart + 2 * (group * kPointsPerGroup * kChannels + (kChannel - 1) * kPointsPerGroup + inGroup * kPointsPerFrame);
  };
  if (framePosition(7) != mfGetRpc3SampleOffset(file.layout, kChannel, 6 * kPointsPerFrame + 1)) {
    state.SkipWithError("frame positions disagree with the writer");
  }
  std::int64_t start = 1;
  for (auto _ : state) {
    const std::int64_t firstFrame = (start - 1) / kPointsPerFrame + 1;
    const std::int64_t lastFrame = firstFrame + chunk / kPointsPerFrame - 1;
    std::int16_t* into = stored.data();
    for (std::int64_t f = firstFrame; f <= lastFrame;) {
      // The frames of a group lie one after another.
      constexpr std::int64_t kFramesPerGroup = kPointsPerGroup / kPointsPerFrame;
      const std::int64_t run = std::min(kFramesPerGroup - (f - 1) % kFramesPerGroup, lastFrame - f + 1);
      const std::int64_t position = framePosition(f);
      const auto bytes = static_cast<std::size_t>(run * kPointsPerFrame * 2);
      if (::pread(fd, into, bytes, position) != static_cast<ssize_t>(bytes)) state.SkipWithError("pread");
      into += run * kPointsPerFrame;
      f += run;
    }
    for (std::size_t i = 0; i < decoded.size(); ++i) decoded[i] = static_cast<float>(stored[i]) * kScale;
    benchmark::DoNotOptimize(decoded.data());
    benchmark::ClobberMemory();
    start = start + chunk > kValues ? 1 : start + chunk;
  }
  ::close(fd);
  setCounters(state, chunk);
}
BENCHMARK(BM_PreadAndDecode)->Arg(64 * 1024)->Arg(1024)->UseRealTime();

// A file of N channels under the benchmark's access point, and a step that gives it a new
// modification time, so that its header is read anew as for a new file.
struct WideFile {
  std::string name;
  std::string path;
  long stamp = 1'000'000'000;

  explicit WideFile(int channels) {
    BenchFile& file = benchFile();
    name = "wide-" + std::to_string(channels) + ".rsp";
    path = file.dir.mfFile(name);
    Rpc3FileLayout wide;
    wide.mChannels = channels;
    wide.mPtsPerFrame = 1000;
    wide.mFrames = 1;
    mpWriteFile(path, mfBuildRpc3File(wide));
  }
  void mpTouch() {
    const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ++stamp;
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
};

void setPerChannel(benchmark::State& state, int channels) {
  state.counters["per channel"] = benchmark::Counter(static_cast<double>(channels) * state.iterations(),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Opening a file of N channels and listing them, in process.
void BM_OpenAndListEmbedded(benchmark::State& state) {
  const auto channels = static_cast<int>(state.range(0));
  WideFile wide(channels);
  OrbHarness& orb = OrbHarness::sfGet();
  for (auto _ : state) {
    wide.mpTouch();
    IDL::File_var object = orb.mServerRef->open_file("bench", "", wide.name.c_str());
    const auto listing = TamblixHq::NODRA::Client::mfReadListing(object);
    if (static_cast<int>(listing.mChannels.size()) != channels) state.SkipWithError("channels missing");
  }
  setPerChannel(state, channels);
}
BENCHMARK(BM_OpenAndListEmbedded)->Arg(50)->Arg(200)->Arg(800)->UseRealTime()->Unit(benchmark::kMillisecond);

// The listing's floor: what no listing of the file avoids, its header read and parsed anew
// on opening, and the file annotations and channel count asked once.
void BM_OpenAndCountEmbedded(benchmark::State& state) {
  const auto channels = static_cast<int>(state.range(0));
  WideFile wide(channels);
  OrbHarness& orb = OrbHarness::sfGet();
  for (auto _ : state) {
    wide.mpTouch();
    IDL::File_var object = orb.mServerRef->open_file("bench", "", wide.name.c_str());
    IDL::AnnotationSeq_var annotations = object->get_all_annotations();
    if (static_cast<int>(object->get_number_of_children()) != channels) state.SkipWithError("channels missing");
  }
  setPerChannel(state, channels);
}
BENCHMARK(BM_OpenAndCountEmbedded)->Arg(50)->Arg(200)->Arg(800)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
