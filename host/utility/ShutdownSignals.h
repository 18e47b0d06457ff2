// How the long-running programs stop: SIGINT and SIGTERM are blocked in every thread and
// taken by one thread that waits for them, so that shutdown runs as ordinary code rather
// than in a signal handler.
#pragma once

#include <signal.h>

namespace TamblixHq::NODRA::Utility {

// Blocks SIGINT and SIGTERM in the calling thread and, through inheritance, in every thread
// it starts later: call it before the ORB or a server starts threads. Answers the set.
sigset_t blockShutdownSignals();

// Waits until one of `signals` arrives; answers its number.
int waitForShutdownSignal(const sigset_t& signals);

}  // namespace TamblixHq::NODRA::Utility
