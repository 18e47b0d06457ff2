#include "tests/support/ChildProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/ScratchDir.h"

extern char** environ;

namespace nodra::test {

namespace {

std::vector<char*> mfArgv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return argv;
}

int mfExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Spawns `args` with standard output and error sent to files (empty: /dev/null).
pid_t mfSpawn(std::vector<std::string> args, std::vector<std::string> environment,
              const std::string& outFile, const std::string& errFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int flags = O_WRONLY | O_CREAT | O_TRUNC;
  posix_spawn_file_actions_addopen(&actions, 1, outFile.empty() ? "/dev/null" : outFile.c_str(),
                                   flags, 0644);
  if (errFile == outFile && !outFile.empty()) {
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, errFile.empty() ? "/dev/null" : errFile.c_str(),
                                     flags, 0644);
  }
  // The added entries come first: a variable's first entry is the one a program sees.
  for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
  std::vector<char*> argv = mfArgv(args);
  std::vector<char*> envp = mfArgv(environment);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

bool mfWaitForServer(const std::string& browse, int port) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const ProgramResult probe =
        mfRunProgram({browse, "--server", "corbaloc::127.0.0.1:" + std::to_string(port) + "/NodraServer", "rig/none.rsp"});
    if (probe.mErr.find("cannot reach") == std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int mfFreePort() {
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

ProgramResult mfRunProgram(const std::vector<std::string>& args,
                           const std::vector<std::string>& environment) {
  ScratchDir dir;
  const std::string out = dir.mfFile("stdout"), err = dir.mfFile("stderr");
  ProgramResult result;
  const pid_t pid = mfSpawn(args, environment, out, err);
  if (pid <= 0) throw std::runtime_error("cannot start " + args.at(0));
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.mStatus = mfExitStatus(status);
  result.mOut = mfReadFile(out);
  result.mErr = mfReadFile(err);
  return result;
}

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& logFile)
    : mPid(mfSpawn(args, {}, logFile, logFile)) {}

ChildProcess::~ChildProcess() {
  if (mPid > 0) mfStopAndGetStatus();
}

int ChildProcess::mfStopAndGetStatus(int signal) {
  int status = 0;
  ::kill(mPid, signal);
  ::waitpid(mPid, &status, 0);
  mPid = -1;
  return mfExitStatus(status);
}

long mfProcessStatusFigure(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    std::istringstream fields(line);
    std::string name;
    long value = -1;
    if (fields >> name && name == key && fields >> value) return value;
  }
  return -1;
}

}  // namespace nodra::test
