#include "host/utility/ShutdownSignals.h"

#include <pthread.h>

namespace TamblixHq::NODRA::Utility {

sigset_t blockShutdownSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

int waitForShutdownSignal(const sigset_t& signals) {
  int received = 0;
  while (sigwait(&signals, &received) != 0) {
  }
  return received;
}

}  // namespace TamblixHq::NODRA::Utility
