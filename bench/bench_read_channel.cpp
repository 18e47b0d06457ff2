// Reads a whole channel of a file of about 100 MB in chunks through its values object (in
// process, through real references), beside a plain read() of the same file.
//
//   build/bench/bench_read_channel [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "host/framework/CFilePool.h"
#include "host/utility/CAccessPointMapU.h"
#include "tests/support/OrbHarness.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
using namespace nodra::test;

constexpr int kChannels = 8;
constexpr int kPointsPerFrame = 1024;
constexpr std::int64_t kFrames = 6400;  // 8 channels x 6.5 M values x 2 bytes: 105 MB

struct BenchFile {
  ScratchDir dir;
  std::string path;
  std::int64_t bytes = 0;

  BenchFile() {
    Rpc3FileLayout layout;
    layout.mChannels = kChannels;
    layout.mPtsPerFrame = kPointsPerFrame;
    layout.mPtsPerGroup = 4 * kPointsPerFrame;
    layout.mFrames = kFrames;
    layout.mSample = [](int channel, std::int64_t index) {
      return static_cast<double>((index * 31 + channel) % 20000 - 10000);
    };
    Bytes data = mfBuildRpc3File(layout);
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

void BM_ChannelThroughValuesObject(benchmark::State& state) {
  BenchFile& file = benchFile();
  OrbHarness& orb = OrbHarness::sfGet();
  IDL::File_var object = orb.mServerRef->open_file("bench", "", "bench.rsp");
  IDL::BrowsableStructSeq_var children = object->get_all_children();
  IDL::Function2D_var channel = IDL::Function2D::_narrow(children[kChannels / 2].reference);
  IDL::FunctionValues_var fv = channel->get_values_by_index(0, IDL::Y);
  IDL::RealValues_var values = IDL::RealValues::_narrow(fv);
  const CORBA::ULong total = values->get_number_of_values();
  const CORBA::ULong chunk = static_cast<CORBA::ULong>(state.range(0));
  double checksum = 0;
  for (auto _ : state) {
    for (CORBA::ULong start = 1; start <= total; start += chunk) {
      IDL::RealValueSeqUnion_var part = values->get_value_chunk(start, chunk);
      checksum += part->float_sequence()[0];
    }
  }
  benchmark::DoNotOptimize(checksum);
  state.counters["samples/s"] =
      benchmark::Counter(static_cast<double>(total) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["file MB"] = static_cast<double>(file.bytes) / 1e6;
}
BENCHMARK(BM_ChannelThroughValuesObject)->Arg(64 * 1024)->Arg(256 * 1024)->Unit(benchmark::kMillisecond);

// The floor: the whole file (all channels) with plain read() calls of 1 MiB.
void BM_PlainReadOfTheFile(benchmark::State& state) {
  BenchFile& file = benchFile();
  std::vector<char> buffer(1 << 20);
  for (auto _ : state) {
    int fd = ::open(file.path.c_str(), O_RDONLY);
    ssize_t n;
    std::int64_t total = 0;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) total += n;
    ::close(fd);
    benchmark::DoNotOptimize(total);
  }
  const double samples = static_cast<double>(kChannels) * kFrames * kPointsPerFrame;
  state.counters["samples/s"] =
      benchmark::Counter(samples * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["file MB"] = static_cast<double>(file.bytes) / 1e6;
}
BENCHMARK(BM_PlainReadOfTheFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
