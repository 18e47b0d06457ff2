// Many clients of one nodra-server, and clients that vanish in the middle of a read.
//
//   load_clients [--clients K] [--seconds S] [--churn] [--server-program PATH] ...
//   load_clients --client-mode URL ACCESS_POINT/FILE...   (a churn client; reads until killed)
//
// Test files are written into a scratch directory with values that are a known function of
// (file, channel, index), a server is started on them on a free loopback port, and K reader
// threads share one client ORB that opens a connection per concurrent call, so each thread
// has a connection of its own. Every reader walks all channels of every file through the
// extended chunks and reads random chunks of random channels, checking every value.
//
// With --churn the readers are canaries, and client processes (this program in client
// mode) are started beside them and killed with SIGKILL while they read large chunks.
//
// At the end the figures are printed, with the server's memory, open files and threads at
// the start, at their peak and at the end, once the readers have closed their connections
// and the server has ended its idle threads.
// Exit status 0 only when no call failed, no value differed, the server's threads, sockets
// and other descriptors fell back to where they started while no more data file handles
// stayed open than its file pool keeps, the server stopped cleanly on SIGTERM, and (with
// --churn) its memory grew by no more than --rss-growth-mib.

#include <CLI/CLI.hpp>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "nodra/Framework.hh"
#include "tests/support/ChildProcess.h"
#include "tests/support/OrbHarness.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
using namespace nodra::test;
using Clock = std::chrono::steady_clock;

constexpr const char* kAccessPoint = "load";
// The server keeps up to this many data file handles open for reuse, whatever the clients
// do (the file pool's bound); more after the clients are gone would be a leak.
constexpr long kPooledFiles = 64;

// The test files: some 2-byte, some float, both byte orders, channels of different lengths.
struct FileShape {
  const char* name;
  int channels;
  bool isFloat;
  bool bigEndian;
  int pointsPerFrame;
  int pointsPerGroup;  // 0: one frame per group
  std::int64_t frames;

  CORBA::ULong mfValues() const { return static_cast<CORBA::ULong>(frames * pointsPerFrame); }
};

constexpr FileShape kFiles[] = {
    {"f0.rsp", 3, false, false, 1024, 4096, 300},  // 307 200 values per channel
    {"f1.rsp", 4, true, true, 512, 0, 1000},       // 512 000
    {"f2.rsp", 2, false, true, 2048, 0, 150},      // 307 200
    {"f3.rsp", 5, true, false, 1000, 2000, 240},   // 240 000
};
constexpr int kFileCount = static_cast<int>(sizeof kFiles / sizeof kFiles[0]);

// Value `index` (from 1) of `channel` (from 1) of file `file`, as the server must answer it
// (the scale is 1). Short data spans the whole int16 range; float data has six fraction
// bits and at most 14 integer bits, so the float holds it exactly.
float mfExpected(int file, int channel, std::int64_t index) {
  const std::uint64_t mix = static_cast<std::uint64_t>(index) * 2654435761u +
                            static_cast<std::uint64_t>(channel) * 40503u +
                            static_cast<std::uint64_t>(file) * 9973u;
  if (!kFiles[file].isFloat) return static_cast<float>(static_cast<std::int64_t>(mix % 65536) - 32768);
  return static_cast<float>(static_cast<double>(mix % 1000000) / 64.0 - 7000.0);
}

// The index of the file called `name` in kFiles; -1 when there is none.
int mfFileIndex(const std::string& name) {
  for (int k = 0; k < kFileCount; ++k) {
    if (name == kFiles[k].name) return k;
  }
  return -1;
}

void mpWriteTestFiles(const ScratchDir& dir) {
  for (int k = 0; k < kFileCount; ++k) {
    const FileShape& shape = kFiles[k];
    Rpc3FileLayout layout;
    layout.mChannels = shape.channels;
    layout.mFrames = shape.frames;
    layout.mPtsPerFrame = shape.pointsPerFrame;
    layout.mPtsPerGroup = shape.pointsPerGroup;
    layout.mFloat = shape.isFloat;
    layout.mFormat = shape.bigEndian ? "BINARY_IEEE_BIG_END" : "BINARY_IEEE_LITTLE_END";
    layout.mSample = [k](int channel, std::int64_t index) {
      return static_cast<double>(mfExpected(k, channel, index));
    };
    mpWriteFile(dir.mfFile(shape.name), mfBuildRpc3File(layout));
  }
}

// What one client saw. Counted per thread and added up at the end.
struct Tally {
  std::uint64_t mCalls = 0;
  std::uint64_t mErrors = 0;
  std::uint64_t mMismatches = 0;
  std::uint64_t mValues = 0;
  std::vector<std::string> mFirstErrors;  // the first few, for the report

  void mpError(const std::string& what) {
    ++mErrors;
    if (mFirstErrors.size() < 5) mFirstErrors.push_back(what);
  }
  void mpAdd(const Tally& other) {
    mCalls += other.mCalls;
    mErrors += other.mErrors;
    mMismatches += other.mMismatches;
    mValues += other.mValues;
    for (const std::string& e : other.mFirstErrors) {
      if (mFirstErrors.size() < 5) mFirstErrors.push_back(e);
    }
  }
};

std::string mfDescribe(const CORBA::Exception& e) {
  if (const auto* data = IDL::DBAccessException::_downcast(&e)) {
    return std::string("DBAccessException: ") + data->message.in() + " (" + data->reason.in() + ")";
  }
  if (const auto* system = CORBA::SystemException::_downcast(&e)) {
    const char* minor = system->NP_minorString();
    return std::string(e._name()) + " (" + (minor ? minor : "no detail") + ")";
  }
  return e._name();
}

struct ChannelRef {
  int mFile = 0;
  int mNumber = 0;  // from 1
  CORBA::ULong mCount = 0;
  IDL::RealValues_var mValues;
};

// Opens every file named in `files` (indices into kFiles), walks its channels through the
// extended chunks and checks what they say; answers the channels' values objects. A
// description that differs from the file counts as an error.
std::vector<ChannelRef> mfWalk(IDL::DataServer_ptr root, const std::vector<int>& files, Tally& tally) {
  std::vector<ChannelRef> channels;
  const CORBA::ULong chunk = root->get_chunk_size();
  ++tally.mCalls;
  for (int k : files) {
    IDL::File_var file = root->open_file(kAccessPoint, "", kFiles[k].name);
    const CORBA::ULong n = file->get_number_of_children();
    tally.mCalls += 2;
    if (n != static_cast<CORBA::ULong>(kFiles[k].channels)) {
      tally.mpError(std::string(kFiles[k].name) + ": " + std::to_string(n) + " channels");
      continue;
    }
    for (CORBA::ULong start = 0; start < n; start += chunk) {
      IDL::BrowsableExtendedStruct_var part = file->get_all_children_extended_chunk(start);
      ++tally.mCalls;
      if (part->functions.length() == 0 || part->functions.length() > chunk) {
        tally.mpError(std::string(kFiles[k].name) + ": an extended chunk of " +
                      std::to_string(part->functions.length()) + " channels");
        break;
      }
      for (CORBA::ULong i = 0; i < part->functions.length(); ++i) {
        const IDL::FunctionExtendedStruct& function = part->functions[i];
        ChannelRef channel;
        channel.mFile = k;
        channel.mNumber = static_cast<int>(start + i + 1);
        channel.mValues = IDL::RealValues::_narrow(function.y_values);
        if (CORBA::is_nil(channel.mValues) ||
            function.measurement_annotation.description.channel_number != channel.mNumber) {
          tally.mpError(std::string(kFiles[k].name) + ": channel " + std::to_string(channel.mNumber) +
                        " is described wrongly");
          continue;
        }
        channel.mCount = channel.mValues->get_number_of_values();
        ++tally.mCalls;
        if (channel.mCount != kFiles[k].mfValues()) {
          tally.mpError(std::string(kFiles[k].name) + ": channel " + std::to_string(channel.mNumber) +
                        " has " + std::to_string(channel.mCount) + " values");
          continue;
        }
        channels.push_back(std::move(channel));
      }
    }
  }
  return channels;
}

// Reads `count` values of `channel` from `start` (from 1) and checks each against the file.
void mpReadAndCheck(const ChannelRef& channel, CORBA::ULong start, CORBA::ULong count, Tally& tally) {
  IDL::RealValueSeqUnion_var got = channel.mValues->get_value_chunk(start, count);
  ++tally.mCalls;
  const CORBA::ULong expected = std::min<CORBA::ULong>(count, channel.mCount - start + 1);
  if (got->_d() != IDL::SINGLE_PRECISION || got->float_sequence().length() != expected) {
    tally.mpError(std::string(kFiles[channel.mFile].name) + ": channel " +
                  std::to_string(channel.mNumber) + " answered a chunk of the wrong kind or length");
    return;
  }
  const IDL::FloatSeq& values = got->float_sequence();
  for (CORBA::ULong i = 0; i < expected; ++i) {
    if (values[i] != mfExpected(channel.mFile, channel.mNumber, std::int64_t{start} + i)) ++tally.mMismatches;
  }
  tally.mValues += expected;
}

// One reader until `deadline`: walks all files, then reads random chunks of up to `maxChunk`
// values of random channels, over and over.
void mpRead(IDL::DataServer_ptr root, Clock::time_point deadline, CORBA::ULong maxChunk,
            std::uint64_t seed, Tally& tally) {
  std::mt19937_64 random(seed);
  std::vector<int> files;
  for (int k = 0; k < kFileCount; ++k) files.push_back(k);
  while (Clock::now() < deadline) {
    try {
      const std::vector<ChannelRef> channels = mfWalk(root, files, tally);
      for (int read = 0; read < 32 && !channels.empty() && Clock::now() < deadline; ++read) {
        const ChannelRef& channel = channels[random() % channels.size()];
        const CORBA::ULong start = 1 + static_cast<CORBA::ULong>(random() % channel.mCount);
        const CORBA::ULong count = 1 + static_cast<CORBA::ULong>(random() % maxChunk);
        mpReadAndCheck(channel, start, count, tally);
      }
    } catch (const CORBA::Exception& e) {
      tally.mpError(mfDescribe(e));
    }
  }
}

// A churn client: walks the files given, says "reading" once it has read a chunk, and reads
// large chunks until it is killed. Exit status 1 on a failed call, 3 on a wrong value.
int mfClientMode(const char* program, const std::string& url, const std::vector<std::string>& names,
                 CORBA::ULong maxChunk) {
  std::vector<int> files;
  for (const std::string& name : names) {
    const std::string prefix = std::string(kAccessPoint) + "/";
    const int k = name.compare(0, prefix.size(), prefix) == 0 ? mfFileIndex(name.substr(prefix.size())) : -1;
    if (k < 0) {
      std::cerr << "load_clients: no test file " << name << "\n";
      return 2;
    }
    files.push_back(k);
  }
  CORBA::ORB_var orb = mfClientOrb(program);
  IDL::DataServer_var root = mfWaitForServer(orb, url);
  if (CORBA::is_nil(root)) {
    std::cerr << "load_clients: cannot reach " << url << "\n";
    return 1;
  }
  Tally tally;
  std::mt19937_64 random(static_cast<std::uint64_t>(::getpid()));
  try {
    const std::vector<ChannelRef> channels = mfWalk(root, files, tally);
    for (bool first = true; tally.mErrors == 0 && tally.mMismatches == 0 && !channels.empty(); first = false) {
      const ChannelRef& channel = channels[random() % channels.size()];
      const CORBA::ULong count = std::min(maxChunk, channel.mCount);
      const CORBA::ULong start = 1 + static_cast<CORBA::ULong>(random() % (channel.mCount - count + 1));
      mpReadAndCheck(channel, start, count, tally);
      if (first) std::cout << "reading" << std::endl;
    }
  } catch (const CORBA::Exception& e) {
    tally.mpError(mfDescribe(e));
  }
  for (const std::string& e : tally.mFirstErrors) std::cerr << "load_clients: " << e << "\n";
  if (tally.mMismatches != 0) std::cerr << "load_clients: " << tally.mMismatches << " values differ\n";
  return tally.mMismatches != 0 ? 3 : 1;
}

// What /proc says of the server.
struct ServerFigures {
  long mRssKiB = 0;
  long mOpenFiles = 0;  // every descriptor
  long mSockets = 0;    // of them, the listening socket and the clients' connections
  long mDataFiles = 0;  // of them, handles of files in `dataDir` (the server pools them)
  long mThreads = 0;

  long mfOthers() const { return mOpenFiles - mSockets - mDataFiles; }
};

ServerFigures mfServerFigures(pid_t pid, const std::string& dataDir) {
  ServerFigures figures;
  figures.mRssKiB = mfProcessStatusFigure(pid, "VmRSS:");
  figures.mThreads = mfProcessStatusFigure(pid, "Threads:");
  const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
  if (DIR* fds = ::opendir(fdDir.c_str())) {
    while (const dirent* entry = ::readdir(fds)) {
      if (entry->d_name[0] == '.') continue;
      ++figures.mOpenFiles;
      std::error_code error;
      const std::string target = std::filesystem::read_symlink(fdDir + "/" + entry->d_name, error).string();
      figures.mSockets += target.compare(0, 7, "socket:") == 0;
      figures.mDataFiles += target.compare(0, dataDir.size() + 1, dataDir + "/") == 0;
    }
    ::closedir(fds);
  }
  return figures;
}

// Polls `ready` every 50 ms until it holds or `seconds` have passed.
template <class Ready>
bool mfWaitFor(double seconds, Ready ready) {
  const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(seconds));
  while (!ready()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

struct ChurnCount {
  std::uint64_t mKilled = 0;
  std::uint64_t mFailed = 0;  // ended by themselves, or never started reading
};

// Until `deadline`: starts `parallel` client processes at a time, waits until each reads,
// lets it read on for a random few milliseconds and kills it with SIGKILL.
void mpChurn(const std::string& self, const std::string& url, const ScratchDir& dir,
             Clock::time_point deadline, int parallel, CORBA::ULong maxChunk, std::uint64_t seed,
             ChurnCount& count, Tally& tally) {
  std::mt19937_64 random(seed);
  for (std::uint64_t round = 0; Clock::now() < deadline; ++round) {
    std::vector<std::unique_ptr<ChildProcess>> clients;
    std::vector<std::string> logs;
    for (int c = 0; c < parallel; ++c) {
      std::vector<std::string> args = {self, "--client-mode", url, "--max-chunk", std::to_string(maxChunk)};
      for (int k = 0; k < kFileCount; ++k) {
        if (random() % 2 == 0 || k == c % kFileCount) args.push_back(std::string(kAccessPoint) + "/" + kFiles[k].name);
      }
      logs.push_back(dir.mfFile("client-" + std::to_string(round) + "-" + std::to_string(c) + ".log"));
      clients.push_back(std::make_unique<ChildProcess>(args, logs.back()));
    }
    for (int c = 0; c < parallel; ++c) {
      const bool reading = mfWaitFor(20, [&] { return mfReadFile(logs[c]).find("reading") != std::string::npos; });
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
      const int status = clients[c]->mfStopAndGetStatus(SIGKILL);
      if (reading && status == -1) {
        ++count.mKilled;
      } else {
        ++count.mFailed;
        tally.mpError("a churn client ended by itself (status " + std::to_string(status) +
                      "): " + mfReadFile(logs[c]));
      }
      std::remove(logs[c].c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Many clients of one nodra-server, checking every value they read; with --churn "
               "also client processes killed while they read.",
               "load_clients"};
  int clients = 32;
  double seconds = 10;
  bool churn = false;
  int churnParallel = 4;
  CORBA::ULong maxChunk = 100000;
  CORBA::ULong churnChunk = 500000;
  long rssGrowthMiB = 128;
  double settleSeconds = 20;
  std::uint64_t seed = 1;
  int idleConnectionSeconds = 0;
  std::string serverProgram = NODRA_SERVER_PATH;
  std::string clientUrl;
  std::vector<std::string> clientFiles;
  app.add_option("--clients", clients, "reader threads (canaries with --churn)")
      ->check(CLI::Range(1, 4096))->capture_default_str();
  app.add_option("--seconds", seconds, "how long the readers read")->check(CLI::Range(0.1, 1e6))->capture_default_str();
  app.add_flag("--churn", churn, "also start client processes and kill them while they read");
  app.add_option("--churn-parallel", churnParallel, "churn clients alive at a time")
      ->check(CLI::Range(1, 256))->capture_default_str();
  app.add_option("--max-chunk", maxChunk, "largest chunk a reader asks for (values)")
      ->check(CLI::Range(1u, 4000000u))->capture_default_str();
  app.add_option("--churn-chunk", churnChunk, "chunk a churn client asks for (values)")
      ->check(CLI::Range(1u, 4000000u))->capture_default_str();
  app.add_option("--rss-growth-mib", rssGrowthMiB, "with --churn: the most the server's memory may grow")
      ->capture_default_str();
  app.add_option("--settle-seconds", settleSeconds,
                 "how long the server may take at the end to let go of connections and threads")
      ->capture_default_str();
  app.add_option("--idle-connection-seconds", idleConnectionSeconds,
                 "have the server close connections idle this long (0: the ORB's default)")
      ->check(CLI::Range(0, 3600))->capture_default_str();
  app.add_option("--seed", seed, "seed of the readers' random choices")->capture_default_str();
  app.add_option("--server-program", serverProgram, "the nodra-server to start")->capture_default_str();
  app.add_option("--client-mode", clientUrl, "be a churn client of the server at URL")->type_name("URL");
  app.add_option("files", clientFiles, "with --client-mode: the files to read, as ACCESS_POINT/FILE");
  CLI11_PARSE(app, argc, argv);

  if (!clientUrl.empty()) return mfClientMode(argv[0], clientUrl, clientFiles, churnChunk);

  ScratchDir dir;
  mpWriteTestFiles(dir);
  const int port = mfFreePort();
  const std::string url = "corbaloc::127.0.0.1:" + std::to_string(port) + "/NodraServer";
  const std::string serverLog = dir.mfFile("server.log");
  // The server ends pool threads idle for a second (the ORB's default is 10 s), so that
  // the threads the clients kept busy are gone within the run.
  std::vector<std::string> serverArgs = {serverProgram, "--access-point",
                                         std::string(kAccessPoint) + "=" + dir.mfText(), "--port",
                                         std::to_string(port), "-ORBidleThreadTimeout", "1"};
  if (idleConnectionSeconds > 0) {
    // The server closes connections idle that long itself (the ORB's default is 3 minutes).
    serverArgs.insert(serverArgs.end(), {"-ORBinConScanPeriod", std::to_string(idleConnectionSeconds),
                                         "-ORBscanGranularity", "1"});
  }
  if (churn) {
    // Few live objects: the churn clients' objects are evicted and rebuilt all the time.
    serverArgs.insert(serverArgs.end(), {"--max-servants", "16"});
  }
  ChildProcess server(serverArgs, serverLog);
  if (!mfWaitFor(20, [&] { return mfReadFile(serverLog).find("serving at") != std::string::npos; })) {
    std::cerr << "load_clients: the server did not start:\n" << mfReadFile(serverLog);
    return 1;
  }
  const pid_t serverPid = server.mfPid();
  const std::string dataDir = std::filesystem::canonical(dir.mfPath()).string();

  CORBA::ORB_var orb = mfClientOrb(argv[0]);
  IDL::DataServer_var root = mfWaitForServer(orb, url);
  if (CORBA::is_nil(root)) {
    std::cerr << "load_clients: cannot reach " << url << "\n";
    return 1;
  }
  // One walk first, so that the start figures include the files' open handles and headers.
  Tally warmUp;
  try {
    mfWalk(root, {0, 1, 2, 3}, warmUp);
  } catch (const CORBA::Exception& e) {
    warmUp.mpError(mfDescribe(e));
  }
  const ServerFigures start = mfServerFigures(serverPid, dataDir);

  const Clock::time_point began = Clock::now();
  const Clock::time_point deadline =
      began + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<Tally> tallies(static_cast<std::size_t>(clients));
  std::vector<std::thread> readers;
  for (int c = 0; c < clients; ++c) {
    readers.emplace_back(mpRead, root.in(), deadline, maxChunk, seed * 1000003u + static_cast<std::uint64_t>(c),
                         std::ref(tallies[static_cast<std::size_t>(c)]));
  }
  ChurnCount churned;
  Tally churnTally;
  std::thread churner;
  if (churn) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    churner = std::thread(mpChurn, self, url, std::cref(dir), deadline,
                          churnParallel, churnChunk, seed, std::ref(churned), std::ref(churnTally));
  }
  ServerFigures peak = start;
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (!done) {
      const ServerFigures now = mfServerFigures(serverPid, dataDir);
      peak.mRssKiB = std::max(peak.mRssKiB, now.mRssKiB);
      peak.mOpenFiles = std::max(peak.mOpenFiles, now.mOpenFiles);
      peak.mSockets = std::max(peak.mSockets, now.mSockets);
      peak.mDataFiles = std::max(peak.mDataFiles, now.mDataFiles);
      peak.mThreads = std::max(peak.mThreads, now.mThreads);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  for (std::thread& reader : readers) reader.join();
  if (churner.joinable()) churner.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();
  done = true;
  watcher.join();

  Tally total = warmUp;
  for (const Tally& t : tallies) total.mpAdd(t);
  total.mpAdd(churnTally);

  // The readers close their connections, as a client program ends; the killed clients'
  // connections were closed by the system.
  root = IDL::DataServer::_nil();
  orb->destroy();
  ServerFigures end;
  const bool settled = mfWaitFor(settleSeconds, [&] {
    end = mfServerFigures(serverPid, dataDir);
    return end.mThreads <= start.mThreads && end.mSockets <= start.mSockets &&
           end.mDataFiles <= kPooledFiles && end.mfOthers() <= start.mfOthers();
  });
  const long rssGrowthKiB = end.mRssKiB - start.mRssKiB;
  const bool memoryBounded = !churn || rssGrowthKiB <= rssGrowthMiB * 1024;
  const int serverStatus = server.mfStopAndGetStatus(SIGTERM);

  std::printf("load_clients: %d client threads%s for %.1f s on a server (pid %d) with %d files\n", clients,
              churn ? " (canaries)" : "", elapsed, static_cast<int>(serverPid), kFileCount);
  if (churn) {
    std::printf("  churn clients killed mid-read  %llu (%d at a time, chunks of %lu values)\n",
                static_cast<unsigned long long>(churned.mKilled), churnParallel,
                static_cast<unsigned long>(churnChunk));
  }
  std::printf("  calls               %llu\n", static_cast<unsigned long long>(total.mCalls));
  std::printf("  errors              %llu\n", static_cast<unsigned long long>(total.mErrors));
  std::printf("  mismatched values   %llu\n", static_cast<unsigned long long>(total.mMismatches));
  std::printf("  values read         %llu\n", static_cast<unsigned long long>(total.mValues));
  std::printf("  values per second   %.0f\n", static_cast<double>(total.mValues) / elapsed);
  std::printf("  server              %10s %10s %10s\n", "start", "peak", "end");
  std::printf("    VmRSS [KiB]       %10ld %10ld %10ld\n", start.mRssKiB, peak.mRssKiB, end.mRssKiB);
  std::printf("    open files        %10ld %10ld %10ld\n", start.mOpenFiles, peak.mOpenFiles, end.mOpenFiles);
  std::printf("      sockets         %10ld %10ld %10ld\n", start.mSockets, peak.mSockets, end.mSockets);
  std::printf("      data files      %10ld %10ld %10ld\n", start.mDataFiles, peak.mDataFiles, end.mDataFiles);
  std::printf("    threads           %10ld %10ld %10ld\n", start.mThreads, peak.mThreads, end.mThreads);
  for (const std::string& e : total.mFirstErrors) std::printf("  error: %s\n", e.c_str());
  if (!settled) {
    std::printf("  FAILED: within %.0f s the server's threads, sockets or other descriptors did not fall back "
                "to the start, or more than %ld data file handles stayed open\n",
                settleSeconds, kPooledFiles);
  }
  if (!memoryBounded) {
    std::printf("  FAILED: the server's memory grew by %ld KiB (at most %ld MiB allowed)\n", rssGrowthKiB,
                rssGrowthMiB);
  }
  if (serverStatus != 0) {
    std::printf("  FAILED: the server ended with status %d:\n%s", serverStatus, mfReadFile(serverLog).c_str());
  }
  std::fflush(stdout);
  const bool passed = total.mErrors == 0 && total.mMismatches == 0 && total.mValues > 0 && settled &&
                      memoryBounded && serverStatus == 0 && (!churn || churned.mKilled > 0);
  return passed ? 0 : 1;
}
