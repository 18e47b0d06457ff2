// `nodra-browse dump` of one channel of 10 million values into a file, beside the
// hand-written floor (dump_baseline: pread and std::to_chars) printing the same text.
// Both outputs are compared byte for byte before anything is timed. The peak memory of
// each program is reported for a tenth and for all of the channel: it must not grow with
// the length.
//
//   build/bench/bench_dump [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

extern char** environ;

namespace {

using namespace nodra::test;

constexpr int kChannels = 6;  // 6 channels x 10 M values x 2 bytes: 120 MB
constexpr int kChannel = 3;
constexpr int kPointsPerFrame = 1000;
constexpr int kPointsPerGroup = 4000;
constexpr std::int64_t kFrames = 10000;

struct DumpFile {
  ScratchDir dir;
  Rpc3FileLayout layout;
  std::string path, output;

  DumpFile() {
    layout.mChannels = kChannels;
    layout.mPtsPerFrame = kPointsPerFrame;
    layout.mPtsPerGroup = kPointsPerGroup;
    layout.mFrames = kFrames;
    layout.mDeltaT = "0.0005";
    layout.mChannelTexts.assign(kChannels, Rpc3ChannelTexts{"Wheel force", "N", "0.125", "", ""});
    layout.mSample = [](int channel, std::int64_t index) {
      return static_cast<double>((index * 7919 + channel * 13) % 60000 - 30000);
    };
    path = dir.mfFile("long.rsp");
    mpWriteFile(path, mfBuildRpc3File(layout));
    output = dir.mfFile("out.csv");
  }

  // Values of the channel a run dumps: all of them, or the first `count`.
  std::vector<std::string> mfBrowse(std::int64_t count) const {
    std::vector<std::string> args = {NODRA_BROWSE_PATH, "dump", path, "-c", std::to_string(kChannel)};
    if (count < kFrames * kPointsPerFrame) args.insert(args.end(), {"--count", std::to_string(count)});
    return args;
  }
  std::vector<std::string> mfBaseline(std::int64_t count) const {
    return {NODRA_DUMP_BASELINE_PATH,
            path,
            "time [s],Wheel force [N]",
            std::to_string(kChannels),
            std::to_string(kChannel),
            std::to_string(count / kPointsPerFrame),
            std::to_string(kPointsPerFrame),
            std::to_string(kPointsPerGroup),
            std::to_string(mfRpc3HeaderBlocksOf(layout)),
            "0.125",
            "0.0005"};
  }

  static std::size_t mfRpc3HeaderBlocksOf(const Rpc3FileLayout& layout) {
    // The offset of the first value is the header's size.
    return static_cast<std::size_t>(mfGetRpc3SampleOffset(layout, 1, 1)) / kRpc3BlockSize;
  }
};

DumpFile& dumpFile() {
  static DumpFile file;
  return file;
}

// Runs `args` with standard output into `output`; answers its peak resident memory in MB,
// sampled from /proc while it runs (the rusage of a child counts its parent's peak too).
double runToFile(const std::vector<std::string>& args, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + args[0]);
  long peakKiB = 0;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    peakKiB = std::max(peakKiB, mfProcessStatusFigure(pid, "VmHWM:"));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(args[0] + " failed");
  return static_cast<double>(peakKiB) / 1024.0;
}

// The two programs must print the same text, or the comparison means nothing.
void checkSameText(const DumpFile& file, benchmark::State& state) {
  static bool checked = false;
  if (checked) return;
  runToFile(file.mfBrowse(kFrames * kPointsPerFrame), file.output);
  const std::string browsed = mfReadFile(file.output);
  runToFile(file.mfBaseline(kFrames * kPointsPerFrame), file.output);
  if (browsed.empty() || browsed != mfReadFile(file.output)) {
    state.SkipWithError("nodra-browse dump and the baseline print different text");
  }
  checked = true;
}

template <bool Browse>
void BM_Dump(benchmark::State& state) {
  DumpFile& file = dumpFile();
  checkSameText(file, state);
  const std::int64_t count = state.range(0);
  const std::vector<std::string> args = Browse ? file.mfBrowse(count) : file.mfBaseline(count);
  double peak = 0;
  for (auto _ : state) peak = runToFile(args, file.output);
  state.counters["values/s"] =
      benchmark::Counter(static_cast<double>(count) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["peak MB"] = peak;
}
void BM_DumpBrowse(benchmark::State& state) { BM_Dump<true>(state); }
void BM_DumpBaseline(benchmark::State& state) { BM_Dump<false>(state); }

// Whole program runs of a second or so: five runs each, their median compared.
#define NODRA_DUMP_BENCHMARK(name)                                                            \
  BENCHMARK(name)->Arg(1000000)->Arg(kFrames * kPointsPerFrame)->Iterations(1)->Repetitions(5) \
      ->ReportAggregatesOnly(true)->UseRealTime()->Unit(benchmark::kMillisecond)
NODRA_DUMP_BENCHMARK(BM_DumpBrowse);
NODRA_DUMP_BENCHMARK(BM_DumpBaseline);

}  // namespace

BENCHMARK_MAIN();
