// A client in this process reads a channel from the server program over IIOP on loopback.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/rpc3/servants/ServantTestSupport.h"

extern char** environ;

namespace nodra::test {
namespace {

// A loopback port nobody listens on now, as the system hands them out.
int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  if (fd >= 0) ::close(fd);
  return port;
}

// The server program, started on a port of its own and stopped with SIGTERM.
class ServerProcess {
public:
  ServerProcess(const std::string& accessPoint, int port) {
    std::string program = NODRA_SERVER_PATH;
    std::string portText = std::to_string(port);
    const char* argv[] = {program.c_str(), "--access-point", accessPoint.c_str(),
                          "--port", portText.c_str(), nullptr};
    if (posix_spawn(&mPid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv),
                    environ) != 0) {
      mPid = -1;
    }
  }
  ~ServerProcess() {
    if (mPid > 0) {
      ::kill(mPid, SIGTERM);
      ::waitpid(mPid, &mStatus, 0);
    }
  }
  int mfStopAndGetStatus() {
    ::kill(mPid, SIGTERM);
    ::waitpid(mPid, &mStatus, 0);
    mPid = -1;
    return mStatus;
  }
  bool mfStarted() const { return mPid > 0; }

private:
  pid_t mPid = -1;
  int mStatus = 0;
};

TEST_F(ServantTest, ClientReadsAChannelOverIiopAndTheServerStopsCleanly) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  layout.mPtsPerFrame = 8;
  layout.mFrames = 4;
  layout.mSample = [](int channel, std::int64_t index) { return channel * 100 + index; };
  mpWriteFile(mDir.mfFile("remote.rsp"), mfBuildRpc3File(layout));

  const int port = freePort();
  ASSERT_GT(port, 0);
  ServerProcess server("rig=" + mDir.mfText(), port);
  ASSERT_TRUE(server.mfStarted());
  CORBA::ORB_var orb = OrbHarness::sfGet().mOrb;
  std::string url = "corbaloc::127.0.0.1:" + std::to_string(port) + "/NodraServer";
  IDL::DataServer_var remote;
  IDL::File_var file;
  // The server needs a moment to listen.
  for (int attempt = 0; attempt < 100 && CORBA::is_nil(file); ++attempt) {
    try {
      CORBA::Object_var object = orb->string_to_object(url.c_str());
      remote = IDL::DataServer::_narrow(object);
      file = remote->open_file("rig", "", "remote.rsp");
    } catch (const CORBA::TRANSIENT&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ASSERT_FALSE(CORBA::is_nil(file));
  EXPECT_FALSE(file->_is_equivalent(mServer.in()));
  IDL::RealValues_var values = mfValues(file, 2, IDL::Y);
  std::vector<float> got = mfFloats(IDL::RealValueSeqUnion_var(values->get_value_chunk(7, 4)).in());
  EXPECT_EQ(got, (std::vector<float>{207, 208, 209, 210}));
  IDL::RealValues_var x = mfValues(file, 2, IDL::X);
  std::vector<double> t = mfDoubles(IDL::RealValueSeqUnion_var(x->get_value_chunk(32, 5)).in());
  EXPECT_EQ(t, (std::vector<double>{31 * 0.001}));

  int status = server.mfStopAndGetStatus();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
}  // namespace nodra::test
