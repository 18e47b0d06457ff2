// Runs programs for end-to-end tests: a loopback port that is free now, a program run to its
// end with its output captured, and a long-running process stopped with SIGTERM.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <string>
#include <vector>

namespace nodra::test {

// A loopback TCP port nobody listens on now, as the system hands them out; 0 if none.
int mfFreePort();

// What a finished program printed and how it ended.
struct ProgramResult {
  int mStatus = -1;  // exit status; -1 when it did not exit normally
  std::string mOut;
  std::string mErr;
};

// Runs `args` (program path first) with `environment` entries (NAME=VALUE) added to this
// process's environment, and waits for it to end.
ProgramResult mfRunProgram(const std::vector<std::string>& args,
                           const std::vector<std::string>& environment = {});

// Waits until the nodra-server on loopback `port` answers the nodra-browse at `browse`;
// false when it has not after 5 s.
bool mfWaitForServer(const std::string& browse, int port);

// A figure of a running process's /proc status, in the unit it is given there: "VmRSS:"
// (KiB), "Threads:", ...; -1 when the process or the figure cannot be read.
long mfProcessStatusFigure(pid_t pid, const std::string& key);

// A program left running: standard output and error go to `logFile` (or are discarded when
// it is empty); stopped with SIGTERM when the object dies.
class ChildProcess {
public:
  explicit ChildProcess(const std::vector<std::string>& args, const std::string& logFile = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool mfStarted() const { return mPid > 0; }
  // The process id while it runs (for its /proc entries); -1 once stopped.
  pid_t mfPid() const { return mPid; }
  // Sends `signal` (SIGKILL: a crash), waits, and answers the exit status (-1 when it did
  // not exit normally).
  int mfStopAndGetStatus(int signal = SIGTERM);

private:
  pid_t mPid = -1;
};

}  // namespace nodra::test
