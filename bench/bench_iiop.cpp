// A nodra-server process on loopback, measured from a client process:
//  - a channel read in chunks of 256 Ki values, beside the ORB's own transfer of as many
//    floats (a process of this program whose servant answers a prepared sequence);
//  - a whole channel of 1 Mi values read through the client code's chunk reader (calls
//    kept in flight), and the same chunks one call after another; beside them the reading
//    of its frames with pread and a plain decode, whose sum with the transfer is what no
//    client that waits for each answer can beat;
//  - opening a file (its header read anew) and listing 50, 200 and 800 channels;
//  - 1, 4, 16 and 64 clients reading different channels at once;
//  - the server's memory while a client walks 1000 different files, twice.
//
//   build/bench/bench_iiop [--benchmark_filter=...]
//   bench_iiop --prepared-server IOR_FILE      (the ORB's transfer; started by the above)

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clients/cpp/ChunkReader.h"
#include "clients/cpp/FileListing.h"
#include "host/framework/CRealValuesImpl.h"
#include "nodra/Framework.hh"
#include "tests/support/ChildProcess.h"
#include "tests/support/OrbHarness.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
namespace FW = TamblixHq::NODRA::Framework;
using namespace nodra::test;

constexpr CORBA::ULong kTransferChunk = 256 * 1024;
constexpr CORBA::ULong kClientChunk = 64 * 1024;
constexpr int kLongChannels = 64;                      // 64 channels x 1 M values x 2 bytes: 134 MB
constexpr std::int64_t kLongValues = 1024 * 1024;
constexpr int kManyFiles = 1000;

// The ORB's own transfer: a values servant whose every chunk is one prepared sequence,
// marshalled straight from its buffer.
class PreparedValues : public virtual FW::CRealValuesImpl {
public:
  PreparedValues()
      : FW::CBaseImpl(nullptr, PortableServer::POA::_nil()),
        FW::CFunctionValuesImpl(nullptr, PortableServer::POA::_nil()),
        FW::CRealValuesImpl(nullptr, PortableServer::POA::_nil()),
        mValues(kTransferChunk) {
    for (CORBA::ULong i = 0; i < kTransferChunk; ++i) mValues[i] = static_cast<float>(i) * 0.25f;
  }
  IDL::RealValueSeqUnion* get_value_chunk(CORBA::ULong, CORBA::ULong count) override {
    const CORBA::ULong n = std::min(count, kTransferChunk);
    IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
    result->float_sequence(IDL::FloatSeq());
    result->float_sequence().replace(n, n, mValues.data(), false);
    return result._retn();
  }

private:
  std::vector<CORBA::Float> mValues;
};

int servePrepared(const char* program, const std::string& iorFile) {
  std::vector<std::string> args = {program, "-ORBendPoint", "giop:tcp:127.0.0.1:", "-ORBgiopMaxMsgSize",
                                   std::to_string(64u << 20)};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  int argc = static_cast<int>(argv.size());
  CORBA::ORB_var orb = CORBA::ORB_init(argc, argv.data());
  CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
  PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
  auto* servant = new PreparedValues;
  PortableServer::ObjectId_var id = poa->activate_object(servant);
  servant->_remove_ref();
  CORBA::Object_var reference = poa->id_to_reference(id);
  CORBA::String_var ior = orb->object_to_string(reference);
  PortableServer::POAManager_var manager = poa->the_POAManager();
  manager->activate();
  {
    std::ofstream out(iorFile + ".part");
    out << ior.in();
  }
  std::filesystem::rename(iorFile + ".part", iorFile);
  orb->run();
  return 0;
}

Rpc3FileLayout writeFile(const std::string& path, int channels, int pointsPerFrame, int pointsPerGroup,
                         std::int64_t frames) {
  Rpc3FileLayout layout;
  layout.mChannels = channels;
  layout.mPtsPerFrame = pointsPerFrame;
  layout.mPtsPerGroup = pointsPerGroup;
  layout.mFrames = frames;
  layout.mSample = [](int channel, std::int64_t index) {
    return static_cast<double>((index * 31 + channel * 7) % 20000 - 10000);
  };
  mpWriteFile(path, mfBuildRpc3File(layout));
  return layout;
}

std::string programPath;  // this program, for the prepared server

// A nodra-server on a free loopback port serving `dir` as access point "bench".
struct ServerProcess {
  std::unique_ptr<ChildProcess> mProcess;
  IDL::DataServer_var mRoot;

  ServerProcess(CORBA::ORB_ptr orb, const ScratchDir& dir) {
    const int port = mfFreePort();
    mProcess = std::make_unique<ChildProcess>(std::vector<std::string>{
        NODRA_SERVER_PATH, "--access-point", "bench=" + dir.mfText(), "--port", std::to_string(port)});
    mRoot = mfWaitForServer(orb, "corbaloc::127.0.0.1:" + std::to_string(port) + "/NodraServer");
    if (CORBA::is_nil(mRoot)) throw std::runtime_error("the server did not start");
  }
};

struct Setup {
  ScratchDir dir;
  Rpc3FileLayout longLayout;
  CORBA::ORB_var orb;
  std::unique_ptr<ServerProcess> server;
  std::unique_ptr<ChildProcess> preparedProcess;
  IDL::RealValues_var prepared;
  std::vector<IDL::RealValues_var> channels;  // of long.rsp, from channel 1

  Setup() {
    longLayout = writeFile(dir.mfFile("long.rsp"), kLongChannels, 1024, 4096, kLongValues / 1024);
    for (int n : {50, 200, 800}) writeFile(dir.mfFile("wide-" + std::to_string(n) + ".rsp"), n, 1000, 1000, 1);
    orb = mfClientOrb("bench_iiop");
    server = std::make_unique<ServerProcess>(orb, dir);

    const std::string iorFile = dir.mfFile("prepared.ior");
    preparedProcess = std::make_unique<ChildProcess>(
        std::vector<std::string>{programPath, "--prepared-server", iorFile});
    for (int i = 0; i < 200 && !std::filesystem::exists(iorFile); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    CORBA::Object_var object = orb->string_to_object(mfReadFile(iorFile).c_str());
    prepared = IDL::RealValues::_narrow(object);

    IDL::File_var file = server->mRoot->open_file("bench", "", "long.rsp");
    IDL::BrowsableStructSeq_var children = file->get_all_children();
    for (CORBA::ULong c = 0; c < children->length(); ++c) {
      IDL::Function2D_var channel = IDL::Function2D::_narrow(children[c].reference);
      IDL::FunctionValues_var values = channel->get_values_by_index(0, IDL::Y);
      channels.push_back(IDL::RealValues::_narrow(values));
    }
  }
};

std::unique_ptr<Setup> instance;  // made on first use, torn down before the ORB

Setup& setup() {
  static std::once_flag once;
  std::call_once(once, [] { instance = std::make_unique<Setup>(); });
  return *instance;
}

void setValueRate(benchmark::State& state, double valuesPerIteration) {
  state.counters["values/s"] = benchmark::Counter(valuesPerIteration * state.iterations(), benchmark::Counter::kIsRate);
}

// Reads `values` in chunks of `chunk`, from `start`, wrapping at the end of the channel.
float readChunk(IDL::RealValues_ptr values, CORBA::ULong& start, CORBA::ULong chunk) {
  IDL::RealValueSeqUnion_var part = values->get_value_chunk(start, chunk);
  start = start + chunk > kLongValues ? 1 : start + chunk;
  return part->float_sequence()[0];
}

void BM_ChannelOverIiop(benchmark::State& state) {
  Setup& s = setup();
  CORBA::ULong start = 1;
  float checksum = 0;
  for (auto _ : state) checksum += readChunk(s.channels[0], start, kTransferChunk);
  benchmark::DoNotOptimize(checksum);
  setValueRate(state, kTransferChunk);
}
BENCHMARK(BM_ChannelOverIiop)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_PreparedSequenceOverIiop(benchmark::State& state) {
  Setup& s = setup();
  float checksum = 0;
  for (auto _ : state) {
    IDL::RealValueSeqUnion_var part = s.prepared->get_value_chunk(1, kTransferChunk);
    checksum += part->float_sequence()[1];
  }
  benchmark::DoNotOptimize(checksum);
  setValueRate(state, kTransferChunk);
}
BENCHMARK(BM_PreparedSequenceOverIiop)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A whole channel through the chunk reader that dump, stats and the web viewer use.
void BM_WholeChannelOverIiop(benchmark::State& state) {
  Setup& s = setup();
  float checksum = 0;
  for (auto _ : state) {
    TamblixHq::NODRA::Client::ChunkReader reader({s.channels[1].in()}, 1, kLongValues, kTransferChunk);
    while (const auto row = reader.mfNext()) checksum += static_cast<float>(row->mfValue(0, 0));
  }
  benchmark::DoNotOptimize(checksum);
  setValueRate(state, kLongValues);
}
BENCHMARK(BM_WholeChannelOverIiop)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same chunks, each call made when the one before has answered.
void BM_WholeChannelOneCallAtATime(benchmark::State& state) {
  Setup& s = setup();
  float checksum = 0;
  for (auto _ : state) {
    for (CORBA::ULong start = 1; start <= kLongValues; start += kTransferChunk) {
      IDL::RealValueSeqUnion_var part = s.channels[1]->get_value_chunk(start, kTransferChunk);
      checksum += part->float_sequence()[0];
    }
  }
  benchmark::DoNotOptimize(checksum);
  setValueRate(state, kLongValues);
}
BENCHMARK(BM_WholeChannelOneCallAtATime)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The reading a server cannot avoid for one 256 Ki chunk of that channel: its frames read
// with pread a group (4 frames, one after another) at a time, then scaled in a plain loop.
void BM_PreadAndDecodeChunk(benchmark::State& state) {
  Setup& s = setup();
  const int fd = ::open(s.dir.mfFile("long.rsp").c_str(), O_RDONLY);
  std::vector<std::int16_t> stored(kTransferChunk);
  std::vector<float> decoded(kTransferChunk);
  constexpr std::int64_t kGroup = 4096;
  // Positions by the layout's arithmetic: groups of G samples per channel one after another.
  const std::int64_t dataStart = mfGetRpc3SampleOffset(s.longLayout, 1, 1);
  auto groupPosition = [&](std::int64_t group) { return dataStart + 2 * (group * kGroup * kLongChannels + kGroup); };
  if (groupPosition(3) != mfGetRpc3SampleOffset(s.longLayout, 2, 3 * kGroup + 1)) {
    state.SkipWithError("group positions disagree with the writer");
  }
  std::int64_t first = 1;
  for (auto _ : state) {
    for (std::int64_t done = 0; done < kTransferChunk; done += kGroup) {
      const std::int64_t position = groupPosition((first - 1 + done) / kGroup);
      if (::pread(fd, stored.data() + done, 2 * kGroup, position) != 2 * kGroup) state.SkipWithError("pread");
    }
    for (std::size_t i = 0; i < decoded.size(); ++i) decoded[i] = static_cast<float>(stored[i]);
    benchmark::DoNotOptimize(decoded.data());
    benchmark::ClobberMemory();
    first = first + kTransferChunk > kLongValues ? 1 : first + kTransferChunk;
  }
  ::close(fd);
  setValueRate(state, kTransferChunk);
}
BENCHMARK(BM_PreadAndDecodeChunk)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Gives the file a new modification time, so that the server sees a new version of it and
// reads its header anew at the next open.
void touch(const std::string& path) {
  static std::atomic<long> stamp{1'000'000'000};
  const long seconds = stamp.fetch_add(1);
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void BM_OpenAndListOverIiop(benchmark::State& state) {
  Setup& s = setup();
  const auto channels = static_cast<int>(state.range(0));
  const std::string name = "wide-" + std::to_string(channels) + ".rsp";
  for (auto _ : state) {
    touch(s.dir.mfFile(name));
    IDL::File_var file = s.server->mRoot->open_file("bench", "", name.c_str());
    const auto listing = TamblixHq::NODRA::Client::mfReadListing(file);
    if (static_cast<int>(listing.mChannels.size()) != channels) state.SkipWithError("channels missing");
  }
  state.counters["per channel"] = benchmark::Counter(static_cast<double>(channels) * state.iterations(),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OpenAndListOverIiop)->Arg(50)->Arg(200)->Arg(800)->UseRealTime()->Unit(benchmark::kMillisecond);

// The listing's floor over IIOP: the file opened (its header read anew), its annotations
// and its channel count asked, three round trips that no listing avoids.
void BM_OpenAndCountOverIiop(benchmark::State& state) {
  Setup& s = setup();
  const auto channels = static_cast<int>(state.range(0));
  const std::string name = "wide-" + std::to_string(channels) + ".rsp";
  for (auto _ : state) {
    touch(s.dir.mfFile(name));
    IDL::File_var file = s.server->mRoot->open_file("bench", "", name.c_str());
    IDL::AnnotationSeq_var annotations = file->get_all_annotations();
    if (static_cast<int>(file->get_number_of_children()) != channels) state.SkipWithError("channels missing");
  }
  state.counters["per channel"] = benchmark::Counter(static_cast<double>(channels) * state.iterations(),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OpenAndCountOverIiop)->Arg(50)->Arg(200)->Arg(800)->UseRealTime()->Unit(benchmark::kMillisecond);

// Each client thread reads its own channel in chunks of 64 Ki values.
void BM_Clients(benchmark::State& state) {
  Setup& s = setup();
  IDL::RealValues_ptr values = s.channels[static_cast<std::size_t>(state.thread_index()) % s.channels.size()];
  CORBA::ULong start = 1 + kClientChunk * static_cast<CORBA::ULong>(state.thread_index() % 16);
  float checksum = 0;
  for (auto _ : state) checksum += readChunk(values, start, kClientChunk);
  benchmark::DoNotOptimize(checksum);
  setValueRate(state, kClientChunk);
}
BENCHMARK(BM_Clients)->Threads(1)->Threads(4)->Threads(16)->Threads(64)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A server of its own walks 1000 files: each opened, listed and a chunk of each channel
// read. Its memory after 100, 1000 and a second round of 1000 files shows the bound.
void BM_WalkManyFiles(benchmark::State& state) {
  Setup& s = setup();
  ScratchDir many;
  for (int k = 0; k < kManyFiles; ++k) writeFile(many.mfFile("f" + std::to_string(k) + ".rsp"), 4, 1024, 1024, 8);
  ServerProcess server(s.orb, many);
  auto walk = [&](int from, int to) {
    for (int k = from; k < to; ++k) {
      const std::string name = "f" + std::to_string(k) + ".rsp";
      IDL::File_var file = server.mRoot->open_file("bench", "", name.c_str());
      const auto listing = TamblixHq::NODRA::Client::mfReadListing(file);
      for (const auto& channel : listing.mChannels) {
        IDL::RealValues_var values = IDL::RealValues::_narrow(channel.mFunction.y_values);
        IDL::RealValueSeqUnion_var part = values->get_value_chunk(1, 4096);
      }
    }
  };
  const auto rssMB = [&] { return static_cast<double>(mfProcessStatusFigure(server.mProcess->mfPid(), "VmRSS:")) / 1024; };
  for (auto _ : state) {
    state.counters["MB at start"] = rssMB();
    walk(0, 100);
    state.counters["MB after 100"] = rssMB();
    walk(100, kManyFiles);
    state.counters["MB after 1000"] = rssMB();
    walk(0, kManyFiles);
    state.counters["MB after 2000"] = rssMB();
  }
}
BENCHMARK(BM_WalkManyFiles)->Iterations(1)->Repetitions(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--prepared-server") return servePrepared(argv[0], argv[2]);
  programPath = std::filesystem::read_symlink("/proc/self/exe").string();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (instance) {
    CORBA::ORB_var orb = instance->orb;
    instance.reset();  // references released, the server processes stopped
    orb->destroy();
  }
  return 0;
}
