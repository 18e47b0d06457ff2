// A SQLite catalogue of 10^6 channel rows (20 000 generated files of 50 channels), filled
// once (fill_s: the seconds it took, file by file as an indexer puts them), then typical
// queries of one page (100 rows) and a summary; `rows` is the rows a query answered.
//
//   build/bench/bench_catalogue [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "catalogue/Catalogue.h"
#include "tests/support/ScratchDir.h"

namespace {

using namespace TamblixHq::NODRA::Catalogue;

constexpr int kFiles = 20000;
constexpr int kChannels = 50;
const char* const kPositions[] = {"Front left", "Front right", "Rear left", "Rear right", "Engine",
                                  "Cab",        "Frame",       "Seat",      "Steering",   "Axle"};
const struct {
  const char* mName;
  const char* mUnit;
} kQuantities[] = {{"wheel force", "N"}, {"accel", "m/s^2"}, {"strain", "ue"}, {"displacement", "mm"}, {"temperature", "degC"}};
const double kRates[] = {409.6, 512, 1000, 2048};

FileEntry benchFile(int i) {
  FileEntry f;
  f.mAccessPoint = "lab" + std::to_string(i % 4 + 1);
  char text[64];
  int month = i % 24;
  std::snprintf(text, sizeof text, "rig%d/%04d-%02d/run_%05d.rsp", i / 7 % 20, 2023 + month / 12, month % 12 + 1, i);
  f.mPath = text;
  f.mVersion = "v1:" + std::to_string(i);
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:00:00", 2023 + month / 12, month % 12 + 1, i % 28 + 1, i % 24);
  f.mRecorded = text;
  f.mAnnotations = {{"TEST_NAME", "string", "run " + std::to_string(i)}, {"OPERATOR", "string", "bench"}};
  for (int k = 0; k < kChannels; ++k) {
    ChannelEntry c;
    c.mNumber = k + 1;
    const auto& q = kQuantities[k / 10];
    c.mLabel = std::string(kPositions[k % 10]) + ":" + q.mName + ":+Z";
    c.mUnit = q.mUnit;
    c.mRate = kRates[i % 4];
    c.mValues = 100000;
    c.mSpacing = 1 / c.mRate;
    c.mPoint = kPositions[k % 10];
    c.mDirection = "+Z";
    c.mStats = {100000, 0, -k - 1.0, k + 1.0, 0.5, 2, 50000, 400000};
    f.mChannels.push_back(std::move(c));
  }
  return f;
}

struct Filled {
  nodra::test::ScratchDir mDir;
  std::string mUrl = "sqlite:" + mDir.mfFile("fleet.catalogue");
  double mFillSeconds = 0;
  std::unique_ptr<CCatalogue> mCatalogue;

  Filled() {
    // A catalogue kept for looking into, filled once: NODRA_BENCH_CATALOGUE=PATH, or a
    // PostgreSQL URL to time that back-end.
    if (const char* keep = std::getenv("NODRA_BENCH_CATALOGUE")) {
      mUrl = std::string(keep).find("://") == std::string::npos ? std::string("sqlite:") + keep : keep;
      if (mfOpenCatalogue(mUrl)->mfCountFiles() == kFiles) {
        mCatalogue = mfOpenCatalogue(mUrl);
        return;
      }
    }
    auto start = std::chrono::steady_clock::now();
    {
      auto catalogue = mfOpenCatalogue(mUrl);
      for (int i = 0; i < kFiles; ++i) catalogue->mpPut(benchFile(i));
    }  // closed, as an indexer would: the planner's statistics are taken
    mFillSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    mCatalogue = mfOpenCatalogue(mUrl);
  }
};

Filled& filled() {
  static Filled f;
  return f;
}

template <class Run>
void measure(benchmark::State& state, Run run) {
  Filled& f = filled();
  std::size_t rows = 0;
  for (auto _ : state) rows = run(*f.mCatalogue);
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["fill_s"] = f.mFillSeconds;
}

void BM_FindUnitAndRate(benchmark::State& state) {
  measure(state, [](CCatalogue& c) {
    Query q;
    q.mUnit = "m/s^2";
    q.mRate = 1000;
    return c.mfFind(q).size();
  });
}
void BM_FindText(benchmark::State& state) {
  measure(state, [](CCatalogue& c) {
    Query q;
    q.mText = "wheel force";
    return c.mfFind(q).size();
  });
}
void BM_FindNarrowText(benchmark::State& state) {  // words of a label, of a point and of a path
  measure(state, [](CCatalogue& c) {
    Query q;
    q.mText = "steering strain rig1 run_00147";
    return c.mfFind(q).size();
  });
}
void BM_FindPathPrefix(benchmark::State& state) {
  measure(state, [](CCatalogue& c) {
    Query q;
    q.mPath = "rig13/2024-";
    return c.mfFind(q).size();
  });
}
void BM_FindRecordedRange(benchmark::State& state) {
  measure(state, [](CCatalogue& c) {
    Query q;
    q.mRecordedFrom = "2024-02-10";
    q.mRecordedTo = "2024-02-12";
    return c.mfFind(q).size();
  });
}
void BM_FindLabelPattern(benchmark::State& state) {
  measure(state, [](CCatalogue& c) {
    Query q;
    q.mLabel = "Rear left:*";
    q.mOffset = 1000;
    return c.mfFind(q).size();
  });
}
void BM_SummaryOfAUnit(benchmark::State& state) {  // 200 000 channels summed
  measure(state, [](CCatalogue& c) {
    Query q;
    q.mUnit = "N";
    return c.mfSummary(q).size();
  });
}
void BM_VersionOf(benchmark::State& state) {
  measure(state, [](CCatalogue& c) { return c.mfVersionOf("lab2", benchFile(12345).mPath) ? 1 : 0; });
}

BENCHMARK(BM_FindUnitAndRate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindNarrowText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindPathPrefix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindRecordedRange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindLabelPattern)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SummaryOfAUnit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VersionOf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
