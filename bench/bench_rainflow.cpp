// In process: rainflow counting of a channel of 10 M values where it is read
// (count_rainflow, with the class range given: one pass; without: two), against reading the
// same channel alone through its values object, and against counting the same values held
// in memory (the counting library alone).
//
//   build/bench/bench_rainflow [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/Rainflow.h"
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

// The counting library alone on the same values in memory, 65536 at a time.
void BM_CountInMemory(benchmark::State& state) {
  const std::vector<float>& values = benchFile().values;
  const auto method = state.range(0) ? Analysis::RainflowMethod::kFourPoint : Analysis::RainflowMethod::kAstm;
  Analysis::RainflowSettings s = rangeGiven();
  s.mMethod = method;
  double cycles = 0;
  for (auto _ : state) {
    Analysis::CRainflowCounter counter(s);
    for (std::size_t at = 0; at < values.size(); at += kChunk) {
      counter.mpAdd(values.data() + at, std::min<std::size_t>(kChunk, values.size() - at));
    }
    cycles = counter.mfFinish().mfTotalCycles();
    benchmark::DoNotOptimize(cycles);
  }
  state.counters["cycles"] = cycles;
  setRate(state);
}
BENCHMARK(BM_CountInMemory)->Arg(0)->Arg(1)->ArgName("four_point")->Unit(benchmark::kMillisecond);

// count_rainflow: with the class range given (one pass), and without (two passes).
void BM_CountChannel(benchmark::State& state) {
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
BENCHMARK(BM_CountChannel)->Arg(1)->Arg(0)->ArgName("range_given")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
