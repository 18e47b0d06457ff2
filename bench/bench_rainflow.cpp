// In process: rainflow counting of a channel of 10 M values where it is read
// (count_rainflow, with the class range given: one pass; without: two; on one thread and on
// two), against reading the same channel alone through its values object, and against
// counting the same values held in memory (the counting library alone, on one thread and on
// two, and cut into segments of 1 Mi values joined on one thread: what the joins cost), and
// the ceiling of two threads: two halves counted at once, neither gathered nor joined.
//
//   build/bench/bench_rainflow [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "analysis/Rainflow.h"
#include "host/framework/RainflowReply.h"
#include "host/utility/CAccessPointMapU.h"
#include "tests/support/OrbHarness.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
namespace Analysis = ::TamblixHq::NODRA::Analysis;
using namespace nodra::test;

constexpr int kPointsPerFrame = 1024;
constexpr std::int64_t kFrames = 9766;  // 10.0 M values of one int16 channel: 20 MB
constexpr std::int64_t kValues = kFrames * kPointsPerFrame;
constexpr CORBA::ULong kChunk = 65536;

// A road-load-like history: two waves under noise, a reversal every few values.
double sample(int, std::int64_t i) {
  const double t = static_cast<double>(i);
  return std::round(6000 * std::sin(t * 0.003) + 2500 * std::sin(t * 0.041) +
                    static_cast<double>((i * 7919) % 601) - 300);
}

struct BenchFile {
  ScratchDir dir;
  std::vector<float> values;

  BenchFile() {
    Rpc3FileLayout layout;
    layout.mPtsPerFrame = kPointsPerFrame;
    layout.mFrames = kFrames;
    layout.mChannelTexts = {{"Hub:force:+Z", "N", "0.5", "-16000", "16000"}};
    layout.mSample = sample;
    mpWriteFile(dir.mfFile("bench.rsp"), mfBuildRpc3File(layout));
    TamblixHq::NODRA::Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint("bench",
                                                                                        dir.mfText().c_str());
    values.reserve(kValues);
    for (std::int64_t i = 1; i <= kValues; ++i) values.push_back(static_cast<float>(sample(1, i)) * 0.5f);
  }
};

BenchFile& benchFile() {
  static BenchFile file;
  return file;
}

IDL::Function2D_ptr channel() {
  benchFile();
  IDL::File_var file = OrbHarness::sfGet().mServerRef->open_file("bench", "", "bench.rsp");
  IDL::BrowsableStructSeq_var children = file->get_all_children();
  return IDL::Function2D::_narrow(children[0].reference);
}

void setRate(benchmark::State& state) {
  state.counters["values/s"] =
      benchmark::Counter(static_cast<double>(kValues) * state.iterations(), benchmark::Counter::kIsRate);
}

Analysis::RainflowSettings rangeGiven() {
  Analysis::RainflowSettings s;
  s.mHasRange = true;
  s.mRangeMin = -5000;
  s.mRangeMax = 5000;
  return s;
}

// The floor: every value of the channel read through its values object, 65536 a call.
void BM_ReadChannel(benchmark::State& state) {
  IDL::Function2D_var function = channel();
  IDL::FunctionValues_var y = function->get_values_by_index(0, IDL::Y);
  IDL::RealValues_var values = IDL::RealValues::_narrow(y);
  for (auto _ : state) {
    double sum = 0;
    for (CORBA::ULong start = 1; start <= kValues; start += kChunk) {
      IDL::RealValueSeqUnion_var part = values->get_value_chunk(start, kChunk);
      sum += part->float_sequence()[0];
    }
    benchmark::DoNotOptimize(sum);
  }
  setRate(state);
}
BENCHMARK(BM_ReadChannel)->Unit(benchmark::kMillisecond);

// The counting library alone on the same values in memory, 65536 at a time, on
// `threads` threads (segments of 1 Mi values counted at once and joined).
void BM_CountInMemory(benchmark::State& state) {
  const std::vector<float>& values = benchFile().values;
  const auto method = state.range(0) ? Analysis::RainflowMethod::kFourPoint : Analysis::RainflowMethod::kAstm;
  const auto threads = static_cast<unsigned>(state.range(1));
  Analysis::RainflowSettings s = rangeGiven();
  s.mMethod = method;
  double cycles = 0;
  for (auto _ : state) {
    Analysis::CParallelRainflowCounter counter = TamblixHq::NODRA::Framework::mfRainflowCounter(s, threads);
    for (std::size_t at = 0; at < values.size(); at += kChunk) {
      counter.mpAdd(values.data() + at, std::min<std::size_t>(kChunk, values.size() - at));
    }
    cycles = counter.mfFinish().mfTotalCycles();
    benchmark::DoNotOptimize(cycles);
  }
  state.counters["cycles"] = cycles;
  setRate(state);
}
BENCHMARK(BM_CountInMemory)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"four_point", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same values cut into segments of 1 Mi values, each counted alone and joined in order,
// on one thread: against counting them whole, what cutting and joining cost.
void BM_CountJoined(benchmark::State& state) {
  const std::vector<float>& values = benchFile().values;
  const Analysis::RainflowSettings s = rangeGiven();
  double cycles = 0;
  for (auto _ : state) {
    Analysis::CRainflowCounter counter(s);
    counter.mpAdd(values.data(), Analysis::kParallelSegment);
    for (std::size_t at = Analysis::kParallelSegment; at < values.size(); at += Analysis::kParallelSegment) {
      Analysis::CRainflowCounter segment = Analysis::CRainflowCounter::sfSegment(s);
      segment.mpAdd(values.data() + at, std::min(Analysis::kParallelSegment, values.size() - at));
      counter.mpJoin(segment);
    }
    cycles = counter.mfFinish().mfTotalCycles();
    benchmark::DoNotOptimize(cycles);
  }
  state.counters["cycles"] = cycles;
  setRate(state);
}
BENCHMARK(BM_CountJoined)->UseRealTime()->Unit(benchmark::kMillisecond);

// The two halves of the same values counted at once on two threads, each alone, nothing
// gathered or joined: what two threads of this machine give this counting at best.
void BM_CountHalvesAtOnce(benchmark::State& state) {
  const std::vector<float>& values = benchFile().values;
  const Analysis::RainflowSettings s = rangeGiven();
  const std::size_t half = values.size() / 2;
  double cycles = 0;
  for (auto _ : state) {
    double second = 0;
    std::thread other([&] {
      Analysis::CRainflowCounter counter(s);
      counter.mpAdd(values.data() + half, values.size() - half);
      second = counter.mfFinish().mfTotalCycles();
    });
    Analysis::CRainflowCounter counter(s);
    counter.mpAdd(values.data(), half);
    cycles = counter.mfFinish().mfTotalCycles();
    other.join();
    cycles += second;
    benchmark::DoNotOptimize(cycles);
  }
  setRate(state);
}
BENCHMARK(BM_CountHalvesAtOnce)->UseRealTime()->Unit(benchmark::kMillisecond);

// count_rainflow: with the class range given (one pass), and without (two passes); on one
// thread and on two.
void BM_CountChannel(benchmark::State& state) {
  TamblixHq::NODRA::Framework::mpSetRainflowThreads(static_cast<unsigned>(state.range(1)));
  IDL::Function2D_var function = channel();
  IDL::RainflowRequest request{};
  request.method = IDL::RAINFLOW_ASTM;
  if (state.range(0)) {
    request.range_given = true;
    request.range_min = -5000;
    request.range_max = 5000;
  }
  double cycles = 0;
  for (auto _ : state) {
    IDL::RainflowResult_var result = function->count_rainflow(request);
    cycles = result->full_cycles + result->half_cycles;
    benchmark::DoNotOptimize(cycles);
  }
  state.counters["cycles"] = cycles;
  setRate(state);
}
BENCHMARK(BM_CountChannel)
    ->ArgsProduct({{1, 0}, {1, 2}})
    ->ArgNames({"range_given", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
