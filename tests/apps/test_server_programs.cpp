// The server and the browser as a user runs them: servers found by name through a naming
// service of the test's own, names withdrawn or taken over, no naming service at all, and
// the IOR file.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <omniORB4/CORBA.h>  // omniORB::setClientCallTimeout too

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/framework/CNamingServiceBinding.h"
#include "nodra/Framework.hh"
#include "tests/support/ChildProcess.h"
#include "tests/support/OrbHarness.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace nodra::test {
namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
using TamblixHq::NODRA::Framework::CNamingServiceBinding;

// Polls `ready` every 20 ms for up to 5 s.
template <class Ready>
bool eventually(Ready ready) {
  for (int attempt = 0; attempt < 250; ++attempt) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string afterFirstLine(const std::string& text) {
  const std::size_t end = text.find('\n');
  return end == std::string::npos ? "" : text.substr(end + 1);
}

std::size_t countLinesWith(const std::string& text, const std::string& part) {
  std::istringstream lines(text);
  std::size_t count = 0;
  for (std::string line; std::getline(lines, line);) count += line.find(part) != std::string::npos;
  return count;
}

// nodra-browse run in `directory`, so that a file given as ACCESS_POINT/NAME names the same
// file embedded (a directory named after its access point) and remotely.
ProgramResult browse(const std::string& directory, const std::vector<std::string>& args) {
  std::vector<std::string> command = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", directory,
                                      NODRA_BROWSE_PATH};
  command.insert(command.end(), args.begin(), args.end());
  return mfRunProgram(command);
}

// A naming service on a free loopback port, its data and log in `dir`.
class NamingService {
public:
  explicit NamingService(const ScratchDir& dir)
      : mPort(std::to_string(mfFreePort())),
        mProcess({NODRA_OMNINAMES_PATH, "-start", mPort, "-datadir", dir.mfMakeDir("names"),
                  "-ORBendPoint", "giop:tcp:127.0.0.1:" + mPort},
                 dir.mfFile("names.log")) {}

  std::string mfInitRefOption() const { return "NameService=corbaname::127.0.0.1:" + mPort; }
  std::string mfUrl(const std::string& name) const {
    return "corbaname::127.0.0.1:" + mPort + "#" + name;
  }

  // Whether the service answers, after waiting for it.
  bool mfIsUp() {
    return eventually([this] {
      try {
        CORBA::Object_var object = OrbHarness::sfGet().mOrb->string_to_object(
            ("corbaloc::127.0.0.1:" + mPort + "/NameService").c_str());
        omniORB::setClientCallTimeout(object, 2000);
        mRoot = CosNaming::NamingContext::_narrow(object);
        return !CORBA::is_nil(mRoot);
      } catch (const CORBA::SystemException&) {
        return false;
      }
    });
  }

  // The root object now bound under `name`; nil when the name is unbound.
  IDL::DataServer_ptr mfResolve(const std::string& name) {
    try {
      CORBA::Object_var object = mRoot->resolve(CNamingServiceBinding::sfParseName(name));
      return IDL::DataServer::_narrow(object);
    } catch (const CosNaming::NamingContext::NotFound&) {
      return IDL::DataServer::_nil();
    }
  }

private:
  std::string mPort;
  ChildProcess mProcess;
  CosNaming::NamingContext_var mRoot;
};

class ServerPrograms : public ::testing::Test {
protected:
  // Writes NAME with `channels` channels into the directory of access point `point`.
  void mpWriteRpc3(const std::string& point, const std::string& name, int channels) {
    Rpc3FileLayout layout;
    layout.mChannels = channels;
    layout.mPtsPerFrame = 8;
    layout.mFrames = 4;
    layout.mSample = [](int channel, std::int64_t index) { return channel * 100 + index; };
    mDir.mfMakeDir(point);
    mpWriteFile(mDir.mfFile(point + "/" + name), mfBuildRpc3File(layout));
  }

  // A server of access point `point` on a free port, once it serves; its output goes to
  // the log `logName` in the scratch directory.
  std::unique_ptr<ChildProcess> mfStartServer(const std::string& point, const std::string& logName,
                                              const std::vector<std::string>& more) {
    mPort = mfFreePort();
    std::vector<std::string> args = {NODRA_SERVER_PATH, "--access-point",
                                     point + "=" + mDir.mfFile(point), "--port",
                                     std::to_string(mPort)};
    args.insert(args.end(), more.begin(), more.end());
    auto server = std::make_unique<ChildProcess>(args, mDir.mfFile(logName));
    const bool serving = eventually([&] { return mfLog(logName).find("serving at") != std::string::npos; });
    EXPECT_TRUE(serving) << mfLog(logName);
    return server;
  }

  std::string mfLog(const std::string& logName) const { return mfReadFile(mDir.mfFile(logName)); }

  // The remote listing and header reading, text and JSON, equal the embedded ones of the
  // same file.
  void mpExpectRemoteListingIsTheEmbeddedOne(const std::string& server, const std::string& file) {
    for (const std::vector<std::string>& format :
         std::vector<std::vector<std::string>>{{}, {"--json"}, {"header"}, {"header", "--json"}}) {
      std::vector<std::string> local = format, remote = format;
      local.push_back(file);
      remote.insert(remote.end(), {"--server", server, file});
      const ProgramResult embedded = browse(mDir.mfText(), local);
      const ProgramResult served = browse(mDir.mfText(), remote);
      ASSERT_EQ(embedded.mStatus, 0) << embedded.mErr;
      EXPECT_EQ(served.mStatus, 0) << server << " " << file << ": " << served.mErr;
      EXPECT_NE(afterFirstLine(embedded.mOut), "");
      EXPECT_EQ(afterFirstLine(served.mOut), afterFirstLine(embedded.mOut)) << server << " " << file;
    }
  }

  ScratchDir mDir;
  int mPort = 0;  // of the server started last
};

TEST_F(ServerPrograms, ServersNamedInTheNamingServiceAreBrowsedByName) {
  NamingService names(mDir);
  ASSERT_TRUE(names.mfIsUp()) << mfReadFile(mDir.mfFile("names.log"));
  mpWriteRpc3("rigA", "a.rsp", 2);
  mpWriteRpc3("rigB", "b.rsp", 3);
  // Both under one context: the first server makes it, the second finds it made.
  auto a = mfStartServer("rigA", "a.log", {"--name", "site/rigA", "-ORBInitRef", names.mfInitRefOption()});
  auto b = mfStartServer("rigB", "b.log", {"--name", "site/rigB", "-ORBInitRef", names.mfInitRefOption()});

  mpExpectRemoteListingIsTheEmbeddedOne(names.mfUrl("site/rigA"), "rigA/a.rsp");
  mpExpectRemoteListingIsTheEmbeddedOne(names.mfUrl("site/rigB"), "rigB/b.rsp");
  // Each name leads to its own server: one server does not know the other's files.
  EXPECT_NE(browse(mDir.mfText(), {"--server", names.mfUrl("site/rigA"), "rigB/b.rsp"}).mStatus, 0);
  EXPECT_EQ(a->mfStopAndGetStatus(), 0);
  EXPECT_EQ(b->mfStopAndGetStatus(), 0);
}

// Servers told apart by their chunk size.
TEST_F(ServerPrograms, ANameIsTakenOverAfterACrashAndWithdrawnOnlyByItsHolder) {
  NamingService names(mDir);
  ASSERT_TRUE(names.mfIsUp());
  mpWriteRpc3("rig", "a.rsp", 1);
  auto named = [&](const char* chunkSize) {
    return std::vector<std::string>{"--name", "rig", "--chunk-size", chunkSize, "-ORBInitRef",
                                    names.mfInitRefOption()};
  };
  auto crashed = mfStartServer("rig", "crashed.log", named("5"));
  crashed->mfStopAndGetStatus(SIGKILL);
  IDL::DataServer_var stale = names.mfResolve("rig");
  ASSERT_FALSE(CORBA::is_nil(stale));  // a crash leaves its entry behind

  auto first = mfStartServer("rig", "first.log", named("6"));
  IDL::DataServer_var bound = names.mfResolve("rig");
  ASSERT_FALSE(CORBA::is_nil(bound));
  EXPECT_EQ(bound->get_chunk_size(), 6u);

  // A second server takes the name; the first, stopping, leaves it to the second.
  auto second = mfStartServer("rig", "second.log", named("7"));
  EXPECT_EQ(first->mfStopAndGetStatus(), 0);
  bound = names.mfResolve("rig");
  ASSERT_FALSE(CORBA::is_nil(bound));
  EXPECT_EQ(bound->get_chunk_size(), 7u);

  EXPECT_EQ(second->mfStopAndGetStatus(), 0);
  EXPECT_TRUE(CORBA::is_nil(IDL::DataServer_var(names.mfResolve("rig")))) << mfLog("second.log");
  // A browser told to use the withdrawn name says what is missing.
  const ProgramResult late = browse(mDir.mfText(), {"--server", names.mfUrl("rig"), "rig/a.rsp"});
  EXPECT_EQ(late.mStatus, 1);
  EXPECT_NE(late.mErr.find("has no object under that name"), std::string::npos) << late.mErr;
}

TEST_F(ServerPrograms, WithoutANamingServiceTheServerSaysSoOnceAndServesOn) {
  mpWriteRpc3("rig", "a.rsp", 2);
  const std::string nobody = "NameService=corbaname::127.0.0.1:" + std::to_string(mfFreePort());
  auto server = mfStartServer("rig", "server.log", {"--name", "rig", "-ORBInitRef", nobody});
  const std::string corbaloc = "corbaloc::127.0.0.1:" + std::to_string(mPort) + "/NodraServer";
  mpExpectRemoteListingIsTheEmbeddedOne(corbaloc, "rig/a.rsp");
  // At the default level a client's failed request is the client's business only.
  EXPECT_NE(browse(mDir.mfText(), {"--server", corbaloc, "rig/missing.rsp"}).mStatus, 0);
  EXPECT_EQ(server->mfStopAndGetStatus(), 0);

  const std::string log = mfLog("server.log");
  EXPECT_EQ(countLinesWith(log, "naming service"), 1u) << log;
  EXPECT_EQ(countLinesWith(log, "TRANSIENT"), 1u) << log;
  EXPECT_EQ(countLinesWith(log, "missing.rsp"), 0u) << log;
}

TEST_F(ServerPrograms, TheIorFileLetsABrowserReachTheServer) {
  mpWriteRpc3("rig", "a.rsp", 2);
  const std::string iorFile = mDir.mfMakeDir("run") + "/server.ior";
  auto server = mfStartServer("rig", "server.log", {"--ior-file", iorFile, "-vv"});
  const std::string ior = mfReadFile(iorFile);
  ASSERT_EQ(ior.rfind("IOR:", 0), 0u) << ior;
  ASSERT_EQ(ior.find('\n'), ior.size() - 1) << "one line";
  // Written through a temporary file beside it, which is gone.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mDir.mfFile("run")), {}), 1);

  mpExpectRemoteListingIsTheEmbeddedOne(ior.substr(0, ior.size() - 1), "rig/a.rsp");
  // -vv tells every request that fails.
  EXPECT_NE(browse(mDir.mfText(), {"--server", ior.substr(0, ior.size() - 1), "rig/missing.rsp"}).mStatus, 0);
  EXPECT_EQ(server->mfStopAndGetStatus(), 0);
  EXPECT_GE(countLinesWith(mfLog("server.log"), "missing.rsp"), 1u) << mfLog("server.log");
}

TEST_F(ServerPrograms, ChunksLargerThanAMessageAreCutToFitAndTheListingIsWhole) {
  // 1500 channels in chunks of up to 65536: far more than a message of 1 MiB carries.
  mpWriteRpc3("rig", "wide.rsp", 1500);
  auto server = mfStartServer("rig", "server.log", {"--max-message", "1", "--chunk-size", "65536"});
  const std::string url = "corbaloc::127.0.0.1:" + std::to_string(mPort) + "/NodraServer";
  const ProgramResult listed = browse(mDir.mfText(), {"--json", "--server", url, "rig/wide.rsp"});
  ASSERT_EQ(listed.mStatus, 0) << listed.mErr;
  const auto doc = nlohmann::json::parse(listed.mOut);
  ASSERT_EQ(doc.at("channels").size(), 1500u);
  EXPECT_EQ(doc.at("channels")[1499].at("number"), 1500);
  EXPECT_EQ(server->mfStopAndGetStatus(), 0);
}

// SIGTERM while clients read large chunks: the server answers or refuses the calls in
// progress, drops its objects only once no request runs, and exits 0; every client's call
// ends with an exception rather than hanging.
TEST_F(ServerPrograms, StopsCleanlyWhileClientsRead) {
  Rpc3FileLayout layout;
  layout.mChannels = 4;
  layout.mPtsPerFrame = 1024;
  layout.mFrames = 1024;
  mDir.mfMakeDir("rig");
  mpWriteFile(mDir.mfFile("rig/long.rsp"), mfBuildRpc3File(layout));
  auto server = mfStartServer("rig", "server.log", {});
  CORBA::ORB_ptr orb = OrbHarness::sfGet().mOrb;
  IDL::DataServer_var root = mfWaitForServer(orb, "corbaloc::127.0.0.1:" + std::to_string(mPort) + "/NodraServer");
  ASSERT_FALSE(CORBA::is_nil(root));

  // Each round opens its own objects, so that a request may come to build a servant late.
  auto readOnce = [&](CORBA::ULong channelIndex, CORBA::ULong count) {
    IDL::File_var file = root->open_file("rig", "", "long.rsp");
    IDL::BrowsableExtendedStruct_var chunk = file->get_all_children_extended_chunk(channelIndex);
    IDL::Function2D_var channel = IDL::Function2D::_narrow(chunk->children[0].reference);
    IDL::FunctionValues_var y = channel->get_values_by_index(0, IDL::Y);
    IDL::RealValues_var values = IDL::RealValues::_narrow(y);
    IDL::RealValueSeqUnion_var part = values->get_value_chunk(1, count);
  };
  // Once on this thread first: the stubs make their nil references lazily, unguarded on
  // the first read, which ThreadSanitizer would see race between the clients.
  readOnce(0, 1);

  std::atomic<int> calls{0}, ended{0};
  std::vector<std::thread> clients;
  for (CORBA::ULong c = 0; c < 4; ++c) {
    clients.emplace_back([&, c] {
      try {
        for (;;) {
          readOnce(c, 1 << 20);
          ++calls;
        }
      } catch (const CORBA::SystemException&) {
        ++ended;
      }
    });
  }
  EXPECT_TRUE(eventually([&] { return calls.load() >= 8; }));
  EXPECT_EQ(server->mfStopAndGetStatus(), 0) << mfLog("server.log");
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(ended.load(), 4);
}

}  // namespace
}  // namespace nodra::test
