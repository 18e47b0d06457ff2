// Bad input as users meet it: every row of doc/bad-input.md is a case here, run through the
// programs (or, for what only a client program can send, through a client of a server
// process), and what the user sees and the outcome are checked against the row.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/OrbHarness.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace nodra::test {
namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
namespace fs = std::filesystem;

// What a case ends in: the program's exit status ("0", "1", "2") or, for a client's call,
// "ok" or the name of the exception it receives; and all the text the user sees.
struct Seen {
  std::string mOutcome;
  std::string mText;
};

// One row of the table.
struct Row {
  std::string mId, mInput, mSees, mOutcome;
};

std::vector<Row> readTable() {
  std::ifstream in(NODRA_SOURCE_DIR "/doc/bad-input.md");
  std::vector<Row> rows;
  const std::regex row(R"(^\| *([a-z0-9-]+) *\| *(.*?) *\| *`(.*)` *\| *`([^`]*)` *\|$)");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, row)) rows.push_back({m[1], m[2], m[3], m[4]});
  }
  return rows;
}

class BadInput : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    sDir = new ScratchDir;
    fs::create_directories(sDir->mfPath() / "rig");
    // The server writes its reference once it listens; a port that another test's process
    // took meanwhile makes it fail, and the next free port is tried.
    const std::string ior = sDir->mfFile("server.ior");
    for (int attempt = 0; attempt < 5 && !fs::exists(ior); ++attempt) {
      delete sServer;
      sPort = mfFreePort();
      sServer = new ChildProcess({NODRA_SERVER_PATH, "--access-point", "rig=" + sDir->mfFile("rig"),
                                  "--port", std::to_string(sPort), "--ior-file", ior});
      for (int wait = 0; wait < 100 && !fs::exists(ior); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    std::ifstream in(ior);
    std::getline(in, sUrl);
  }
  static void TearDownTestSuite() {
    delete sServer;
    delete sDir;
  }

  // The server's own reference: never another test's server on a reused port.
  static std::string mfUrl() { return sUrl; }

  // A file of the test writer in the served directory; `edit` changes its layout first.
  static std::string mfWrite(const std::string& name, const std::function<void(Rpc3FileLayout&)>& edit = {}) {
    Rpc3FileLayout layout;
    layout.mChannels = 2;
    layout.mPtsPerFrame = 8;
    layout.mFrames = 4;
    layout.mSample = [](int channel, std::int64_t index) { return channel * 100 + index; };
    if (edit) edit(layout);
    return sDir->mfWriteFile("rig/" + name, mfBuildRpc3File(layout));
  }

  static Seen mfRun(const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), program);
    const ProgramResult run = mfRunProgram(args);
    return {std::to_string(run.mStatus), run.mOut + run.mErr};
  }
  static Seen mfBrowse(std::vector<std::string> args) { return mfRun(NODRA_BROWSE_PATH, std::move(args)); }
  static Seen mfRemote(std::vector<std::string> args) {
    args.insert(args.begin(), {"--server", mfUrl()});
    return mfBrowse(std::move(args));
  }

  // The root object of the server process, once it answers.
  static IDL::DataServer_ptr mfRoot() { return mfWaitForServer(OrbHarness::sfGet().mOrb, mfUrl()); }
  // Runs a client's calls and tells how they ended.
  static Seen mfCall(const std::function<void()>& calls) {
    try {
      calls();
      return {"ok", ""};
    } catch (const IDL::DBAccessException& e) {
      return {"DBAccessException", std::string(e.message.in()) + " (reason: " + e.reason.in() + ")"};
    } catch (const IDL::MemAllocException& e) {
      return {"MemAllocException", std::string(e.message.in()) + " (reason: " + e.reason.in() + ")"};
    } catch (const CORBA::SystemException& e) {
      return {e._name(), e._name()};
    }
  }
  // A client's open_file on the server process.
  static Seen mfOpenRemote(const char* subDirectory, const char* fileName) {
    mfWrite("ids.rsp");
    return mfCall([&] {
      IDL::DataServer_var root = mfRoot();
      IDL::File_var file = root->open_file("rig", subDirectory, fileName);
    });
  }
  // Channel 1's values through the server process.
  static IDL::RealValues_ptr mfRemoteValues(const std::string& name) {
    IDL::DataServer_var root = mfRoot();
    IDL::File_var file = root->open_file("rig", "", name.c_str());
    IDL::BrowsableStructSeq_var children = file->get_all_children();
    IDL::Function2D_var channel = IDL::Function2D::_narrow(children[0].reference);
    IDL::FunctionValues_var values = channel->get_values_by_index(0, IDL::Y);
    return IDL::RealValues::_narrow(values);
  }
  // Opens of `path` while `action` runs (inotify); -1 when they cannot be watched.
  static int mfOpensDuring(const std::string& path, const std::function<void()>& action) {
    const int fd = ::inotify_init1(IN_NONBLOCK);
    if (fd < 0 || ::inotify_add_watch(fd, path.c_str(), IN_OPEN) < 0) {
      if (fd >= 0) ::close(fd);
      action();
      return -1;
    }
    action();
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      for (char* at = buffer; at < buffer + n;) {
        auto* event = reinterpret_cast<inotify_event*>(at);
        if (event->mask & IN_OPEN) ++opens;
        at += sizeof(inotify_event) + event->len;
      }
    }
    ::close(fd);
    return opens;
  }

  static std::map<std::string, std::function<Seen()>> mfCases();

  static ScratchDir* sDir;
  static int sPort;
  static std::string sUrl;
  static ChildProcess* sServer;
};

ScratchDir* BadInput::sDir = nullptr;
int BadInput::sPort = 0;
std::string BadInput::sUrl;
ChildProcess* BadInput::sServer = nullptr;

std::map<std::string, std::function<Seen()>> BadInput::mfCases() {
  using L = Rpc3FileLayout;
  auto keyword = [](const char* name, const char* value) {
    return [=](L& l) { l.mExtraKeywords.push_back({name, value}); };
  };
  auto listed = [](const std::string& path) { return mfBrowse({path}); };
  auto dumped = [](const std::string& path, const char* channel = "1") {
    return mfBrowse({"dump", path, "--channel", channel});
  };
  return {
      // The header.
      {"header-truncated-record", [=] {
         return listed(sDir->mfWriteFile("rig/cut.rsp", mfTruncate(mfBuildRpc3File(L()), 300)));
       }},
      {"num-params-negative", [=] { return listed(mfWrite("np-neg.rsp", keyword("NUM_PARAMS", "-5"))); }},
      {"num-params-zero", [=] { return listed(mfWrite("np-zero.rsp", keyword("NUM_PARAMS", "0"))); }},
      {"num-params-huge", [=] { return listed(mfWrite("np-huge.rsp", keyword("NUM_PARAMS", "2147483647"))); }},
      {"num-params-beyond-bound", [=] {
         Rpc3HeaderWriter header;
         header.mfAdd("FORMAT", "BINARY").mfAdd("NUM_HEADER_BLOCKS", "1").mfAdd("NUM_PARAMS", "131073");
         Bytes bytes = header.mfGetBytes(1);
         bytes.resize(131074 * 128, 0);  // long enough: the count alone is refused
         return listed(sDir->mfWriteFile("rig/np-bound.rsp", bytes));
       }},
      {"num-params-not-a-number", [=] { return listed(mfWrite("np-text.rsp", keyword("NUM_PARAMS", "many"))); }},
      {"num-header-blocks-zero", [=] { return dumped(mfWrite("nhb-zero.rsp", keyword("NUM_HEADER_BLOCKS", "0"))); }},
      {"num-header-blocks-beyond-file", [=] {
         return dumped(mfWrite("nhb-big.rsp", keyword("NUM_HEADER_BLOCKS", "100000")));
       }},
      {"num-header-blocks-too-few", [=] { return dumped(mfWrite("nhb-few.rsp", keyword("NUM_HEADER_BLOCKS", "6"))); }},
      {"header-fills-its-blocks", [=] {
         return dumped(mfWrite("filled.rsp", [](L& l) { l.mHeaderForm = Rpc3HeaderForm::eFilled; }));
       }},
      {"keyword-without-nul", [=] {
         return listed(mfWrite("long-keyword.rsp", keyword("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", "full")));
       }},
      {"value-outside-ascii", [=] {
         return listed(mfWrite("latin.rsp", [](L& l) { l.mChannelTexts = {{"Rad vorne \xe4u\xdf" "en", "N", "1", "-1", "1"}}; }));
       }},
      {"value-outside-ascii-json", [=] {
         return mfBrowse({"--json", mfWrite("latin-json.rsp", [](L& l) {
           l.mChannelTexts = {{"Rad vorne \xe4u\xdf" "en", "N", "1", "-1", "1"}};
         })});
       }},
      {"value-outside-ascii-stats-json", [=] {
         return mfBrowse({"stats", "--json", mfWrite("latin-stats.rsp", [](L& l) {
           l.mChannelTexts = {{"Temp \xb0" "C sensor", "\xb0" "C", "1", "-1", "1"}};
         })});
       }},
      {"value-outside-ascii-rainflow-json", [=] {
         return mfBrowse({"rainflow", "--json", "--channel", "1", mfWrite("latin-rainflow.rsp", [](L& l) {
           l.mChannelTexts = {{"Temp \xb0" "C sensor", "\xb0" "C", "1", "-1", "1"}};
         })});
       }},
      {"value-outside-ascii-csv", [=] {
         return mfBrowse({"dump", "--channel", "1", "--count", "1", mfWrite("latin-csv.rsp", [](L& l) {
           l.mChannelTexts = {{"Temp \xb0" "C sensor", "\xb0" "C", "1", "-1", "1"}};
         })});
       }},
      {"description-formula-csv", [=] {
         return mfBrowse({"dump", "--channel", "1", "--count", "1", mfWrite("formula.rsp", [](L& l) {
           l.mChannelTexts = {{"=1+2", "V", "1", "-1", "1"}};
         })});
       }},
      {"keyword-repeated", [=] {
         return listed(mfWrite("twice.rsp", [](L& l) {
           l.mExtraKeywords = {{"OPERATION", "first"}, {"OPERATION", "second"}};
         }));
       }},
      {"empty-file", [=] { return listed(sDir->mfWriteFile("rig/empty.rsp", Bytes())); }},
      {"random-bytes", [=] {
         std::mt19937 random(7);
         Bytes noise(4096);
         for (auto& b : noise) b = static_cast<std::uint8_t>(random());
         return listed(sDir->mfWriteFile("rig/noise.rsp", noise));
       }},
      {"header-only-no-data", [=] {
         const std::string path = mfWrite("bare.rsp");
         fs::resize_file(path, fs::file_size(path) - 2 * 4 * 8 * 2);  // every sample
         return dumped(path);
       }},
      {"format-unknown", [=] { return dumped(mfWrite("fmt.rsp", keyword("FORMAT", "PUNCHED_CARDS"))); }},
      {"data-type-unknown", [=] { return listed(mfWrite("dt.rsp", keyword("DATA_TYPE", "COMPLEX"))); }},
      {"delta-t-zero", [=] {
         return mfBrowse({"--json", mfWrite("dt0.rsp", [](L& l) { l.mDeltaT = "0"; })});
       }},
      {"delta-t-nan", [=] { return dumped(mfWrite("dtnan.rsp", [](L& l) { l.mDeltaT = "nan"; })); }},
      {"date-unreadable", [=] {
         return mfBrowse({"--json", mfWrite("date.rsp", [](L& l) { l.mDate = "yesterday"; })});
       }},
      {"scale-beyond-float", [=] {
         return mfBrowse({"dump", mfWrite("scale.rsp", [](L& l) { l.mChannelTexts = {{"", "", "1e39", "", ""}}; }),
                          "--channel", "1", "--count", "1"});
       }},
      // The sample layout.
      {"pts-per-frame-zero", [=] { return dumped(mfWrite("p0.rsp", keyword("PTS_PER_FRAME", "0"))); }},
      {"pts-per-frame-huge", [=] {
         return dumped(mfWrite("phuge.rsp", [](L& l) {
           l.mExtraKeywords = {{"PTS_PER_FRAME", "2147483647"}, {"PTS_PER_GROUP", "2147483647"}};
         }));
       }},
      {"pts-per-group-below-frame", [=] { return dumped(mfWrite("g.rsp", keyword("PTS_PER_GROUP", "4"))); }},
      {"pts-per-group-not-a-multiple", [=] {
         return mfBrowse({"dump", mfWrite("g12.rsp", keyword("PTS_PER_GROUP", "12")), "--channel", "2",
                          "--count", "2"});
       }},
      {"channels-zero", [=] { return listed(mfWrite("c0.rsp", keyword("CHANNELS", "0"))); }},
      {"channels-negative", [=] { return listed(mfWrite("cneg.rsp", keyword("CHANNELS", "-3"))); }},
      {"channels-huge", [=] { return listed(mfWrite("chuge.rsp", keyword("CHANNELS", "3000"))); }},
      {"channels-beyond-a-listing", [=] { return listed(mfWrite("c100k.rsp", keyword("CHANNELS", "100000"))); }},
      {"channels-two-billion-json", [=] {
         return mfBrowse({"--json", mfWrite("c2g.rsp", keyword("CHANNELS", "2000000000"))});
       }},
      {"channels-two-billion-dump", [=] {
         return mfBrowse({"dump", mfWrite("c2g-dump.rsp", keyword("CHANNELS", "2000000000")), "--channel", "1",
                          "--count", "8"});
       }},
      {"values-beyond-32-bits", [=] {
         return listed(mfWrite("wide.rsp", [](L& l) {
           l.mExtraKeywords = {{"FRAMES", "4"}, {"PTS_PER_FRAME", "1073741824"}, {"PTS_PER_GROUP", "1073741824"}};
         }));
       }},
      // Two channels of four frames of 8: the cut takes channel 2's last frame.
      {"file-shorter-than-data-earlier-frames", [=] {
         const std::string path = mfWrite("short.rsp");
         fs::resize_file(path, fs::file_size(path) - 20);
         return mfBrowse({"dump", path, "--channel", "2", "--count", "24"});
       }},
      {"file-shorter-than-data-missing-sample", [=] {
         const std::string path = mfWrite("short2.rsp");
         fs::resize_file(path, fs::file_size(path) - 20);
         return mfBrowse({"dump", path, "--channel", "2", "--start", "20"});
       }},
      {"data-beyond-4-gib", [=] {
         // A sparse file: with PTS_PER_GROUP 2^31 - 1, channel 2 starts past 4 GiB.
         L l;
         l.mChannels = 2;
         l.mPtsPerFrame = 8;
         l.mHeaderBlocks = 8;
         l.mExtraKeywords = {{"PTS_PER_GROUP", "2147483647"}};
         const std::string path = sDir->mfWriteFile("rig/sparse.rsp", mfTruncate(mfBuildRpc3File(l), 8 * 512));
         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(8 * 512 + 2 * std::int64_t{2147483647});
         for (int value = 201; value <= 208; ++value) {
           const char bytes[2] = {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
           file.write(bytes, 2);
         }
         file.close();
         return dumped(path, "2");
       }},
      // Identifiers.
      {"channel-zero", [=] { return dumped(mfWrite("ids.rsp"), "0"); }},
      {"channel-beyond-channels", [=] { return dumped(mfWrite("ids.rsp"), "3"); }},
      {"channel-negative", [=] { return dumped(mfWrite("ids.rsp"), "-1"); }},
      {"channel-not-a-number", [=] { return dumped(mfWrite("ids.rsp"), "two"); }},
      {"unknown-access-point", [=] { mfWrite("ids.rsp"); return mfRemote({"lab/ids.rsp"}); }},
      // The browser refuses such paths itself; other clients meet the server's refusal.
      {"browse-path-with-dot-dot", [=] { mfWrite("ids.rsp"); return mfRemote({"rig/../rig/ids.rsp"}); }},
      {"dot-dot-in-sub-directory", [=] { return mfOpenRemote("../rig", "ids.rsp"); }},
      {"absolute-sub-directory", [=] { return mfOpenRemote("/etc", "passwd"); }},
      {"backslash-in-file-name", [=] { return mfOpenRemote("", "..\\rig\\ids.rsp"); }},
      {"dot-sub-directory", [=] { return mfOpenRemote(".", "ids.rsp"); }},
      {"doubled-separator-in-sub-directory", [=] {
         fs::create_directories(sDir->mfPath() / "rig" / "sub");
         return mfOpenRemote("sub\\", "ids.rsp");
       }},
      {"backslash-in-access-point-directory", [=] {
         fs::create_directories(sDir->mfPath() / "rig" / "sub");
         return mfRun(NODRA_SERVER_PATH, {"--access-point", "p=" + sDir->mfFile("rig") + "\\sub", "--port",
                                          std::to_string(mfFreePort())});
       }},
      {"access-point-named-twice", [=] {
         fs::create_directories(sDir->mfPath() / "other");
         // Bounded: a server that took it would serve on (timeout's status 124).
         return mfRun("/usr/bin/timeout", {"20", NODRA_SERVER_PATH, "--access-point", "rig=" + sDir->mfFile("rig"),
                                  "--access-point", "rig=" + sDir->mfFile("other"), "--port",
                                  std::to_string(mfFreePort())});
       }},
      {"very-long-file-name", [=] { return mfRemote({"rig/" + std::string(5000, 'x') + ".rsp"}); }},
      {"missing-file", [=] { return mfRemote({"rig/nothing-here.rsp"}); }},
      {"remote-header-truncated", [=] {
         sDir->mfWriteFile("rig/trunc.rsp", mfTruncate(mfBuildRpc3File(L()), 300));
         return mfRemote({"rig/trunc.rsp"});
       }},
      {"remote-list-missing-directory", [=] {
         return mfCall([&] {
           IDL::DataServer_var root = mfRoot();
           IDL::StringSeq_var names = root->list_files("rig", "nothere");
         });
       }},
      {"missing-file-in-sub-directory", [=] {
         fs::create_directories(sDir->mfPath() / "rig" / "sub");
         return dumped(sDir->mfFile("rig/sub/missing.rsp"));
       }},
      {"missing-file-in-remote-sub-directory", [=] {
         fs::create_directories(sDir->mfPath() / "rig" / "sub");
         return mfRemote({"rig/sub/missing.rsp"});
       }},
      {"channel-repeated", [=] { return dumped(mfWrite("ids.rsp"), "1,2,1"); }},
      {"link-out-of-access-point", [=] {
         const std::string canary = sDir->mfWriteFile("canary.rsp", mfBuildRpc3File(L()));
         std::error_code ignored;
         fs::create_symlink(canary, sDir->mfFile("rig/link.rsp"), ignored);
         Seen seen;
         const int opens = mfOpensDuring(canary, [&] {
           seen = mfRemote({"rig/link.rsp"});
           const Seen dotted = mfRemote({"rig/../canary.rsp"});
           seen.mText += dotted.mText;
         });
         if (opens != 0) seen.mText += " (the canary outside was opened " + std::to_string(opens) + " times)";
         return seen;
       }},
      {"nul-byte-in-object-key", [=] {
         IDL::DataServer_var root = mfRoot();
         return mfCall([&] {
           CORBA::ORB_var orb = OrbHarness::sfGet().mOrb;
           const std::string url = "corbaloc::127.0.0.1:" + std::to_string(sPort) + "/RPC3%00File%00..%2F";
           CORBA::Object_var object = orb->string_to_object(url.c_str());
           IDL::Base_var base = IDL::Base::_unchecked_narrow(object);
           CORBA::String_var type = base->get_idl_type_id();
         });
       }},
      // Requests only a client program can send.
      {"chunk-larger-than-a-reply", [=] {
         mfWrite("big.rsp", [](L& l) { l.mPtsPerFrame = 4096; l.mExtraKeywords = {{"FRAMES", "100000"}}; });
         return mfCall([] {
           IDL::RealValues_var values = mfRemoteValues("big.rsp");
           IDL::RealValueSeqUnion_var chunk = values->get_value_chunk(1, 200000000);
         });
       }},
      {"specific-values-too-many", [=] {
         mfWrite("picks.rsp");
         return mfCall([] {
           IDL::RealValues_var values = mfRemoteValues("picks.rsp");
           IDL::IndexSeq picks;
           picks.length(262145);
           for (CORBA::ULong i = 0; i < picks.length(); ++i) picks[i] = 1;
           IDL::RealValueSeqUnion_var chunk = values->get_specific_values(picks);
         });
       }},
      {"server-that-never-answers", [=] {
         const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
         sockaddr_in address{};
         address.sin_family = AF_INET;
         address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
         socklen_t length = sizeof address;
         ::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address);
         ::listen(silent, 4);
         ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
         const Seen seen = mfBrowse({"--server", "corbaloc::127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                                     "/NodraServer", "--timeout", "1", "rig/ids.rsp"});
         ::close(silent);
         return seen;
       }},
      {"axis-out-of-range", [=] {
         mfWrite("axis.rsp");
         return mfCall([] {
           IDL::DataServer_var root = mfRoot();
           IDL::File_var file = root->open_file("rig", "", "axis.rsp");
           IDL::BrowsableStructSeq_var children = file->get_all_children();
           IDL::Function2D_var channel = IDL::Function2D::_narrow(children[0].reference);
           IDL::FunctionValues_var values =
               channel->get_values_by_index(0, static_cast<IDL::AxisEnum>(2));
         });
       }},
      // Files that change under the server while a client holds their objects.
      {"file-rewritten-in-place", [=] {
         mfWrite("rewritten.rsp");
         IDL::RealValues_var values = mfRemoteValues("rewritten.rsp");
         mfWrite("rewritten.rsp", [](L& l) { l.mFloat = true; });
         return mfCall([&] { IDL::RealValueSeqUnion_var v = values->get_value_chunk(1, 4); });
       }},
      {"file-rewritten-in-place-time-kept", [=] {
         const std::string path = mfWrite("time-kept.rsp");
         IDL::RealValues_var values = mfRemoteValues("time-kept.rsp");
         struct stat before {};
         ::stat(path.c_str(), &before);
         struct stat after = before;
         // The change time ticks coarsely: rewrite until it has moved, as a later copy would.
         for (int i = 0; i < 1000 && after.st_ctim.tv_sec == before.st_ctim.tv_sec &&
                         after.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
              ++i) {
           std::this_thread::sleep_for(std::chrono::milliseconds(1));
           std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
           file.seekp(-8, std::ios::end);
           file.write("\x7f\x7f\x7f\x7f\x7f\x7f\x7f\x7f", 8);  // other values, the same size
           file.close();
           const struct timespec times[2] = {before.st_atim, before.st_mtim};
           ::utimensat(AT_FDCWD, path.c_str(), times, 0);
           ::stat(path.c_str(), &after);
         }
         Seen seen = mfCall([&] { IDL::RealValueSeqUnion_var v = values->get_value_chunk(1, 4); });
         if (after.st_mtim.tv_nsec != before.st_mtim.tv_nsec || after.st_size != before.st_size) {
           seen.mText += " (the modification time or size was not kept)";
         }
         return seen;
       }},
      {"file-truncated", [=] {
         const std::string path = mfWrite("truncated.rsp");
         IDL::RealValues_var values = mfRemoteValues("truncated.rsp");
         fs::resize_file(path, 1024);
         return mfCall([&] { IDL::RealValueSeqUnion_var v = values->get_value_chunk(1, 4); });
       }},
      {"file-replaced", [=] {
         mfWrite("replaced.rsp");
         IDL::RealValues_var values = mfRemoteValues("replaced.rsp");
         const std::string other = mfWrite("other.rsp", [](L& l) { l.mPtsPerFrame = 4; });
         fs::rename(other, sDir->mfFile("rig/replaced.rsp"));
         return mfCall([&] { IDL::RealValueSeqUnion_var v = values->get_value_chunk(1, 4); });
       }},
      {"file-deleted", [=] {
         const std::string path = mfWrite("deleted.rsp");
         IDL::RealValues_var values = mfRemoteValues("deleted.rsp");
         fs::remove(path);
         return mfCall([&] { IDL::RealValueSeqUnion_var v = values->get_value_chunk(1, 4); });
       }},
  };
}

TEST_F(BadInput, EveryRowOfTheTableIsWhatTheUserSees) {
  const std::vector<Row> rows = readTable();
  const auto cases = mfCases();
  ASSERT_GE(rows.size(), 40u);
  ASSERT_FALSE(CORBA::is_nil(IDL::DataServer_var(mfRoot())));
  std::map<std::string, int> seenIds;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mId + ": " + row.mInput);
    EXPECT_EQ(++seenIds[row.mId], 1) << "row listed twice";
    const auto found = cases.find(row.mId);
    ASSERT_NE(found, cases.end()) << "no case for the row";
    const Seen seen = found->second();

    EXPECT_EQ(seen.mOutcome, row.mOutcome) << seen.mText;
    EXPECT_NE(seen.mText.find(row.mSees), std::string::npos) << seen.mText;
  }
  for (const auto& [id, run] : cases) EXPECT_EQ(seenIds.count(id), 1u) << id << " has no row in the table";
}

}  // namespace
}  // namespace nodra::test
