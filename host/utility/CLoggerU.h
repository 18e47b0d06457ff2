// Process-wide line loggers by number, chiefly for printing the user exceptions that
// servants are about to throw. Safe for concurrent use: each line reaches the sink whole.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Utility {

class CLoggerU {
public:
  using Sink = std::function<void(const std::string& line)>;

  // How much a line matters, most first: an error concerns whoever runs the program; kInfo
  // says what the program does; kDetail is one line per failed request, such as the
  // exceptions servants throw to their clients.
  enum Level : int { kError = 0, kInfo = 1, kDetail = 2 };

  // The logger of an id (0 is the default one), created on first use and never destroyed,
  // so it may be used until the process ends.
  static CLoggerU* sfGetLoggerU(int id);

  CLoggerU(const CLoggerU&) = delete;
  CLoggerU& operator=(const CLoggerU&) = delete;

  // Prints "<Kind>: <message> (reason: <reason>; at <place>)" for an exception about to be
  // thrown, at `level` (a Level). Every destination is the one sink; 1 names it.
  void mpPrint(const TAMBLIX::NODRA::Framework::DBAccessException& e, int level, int destination);
  void mpPrint(const TAMBLIX::NODRA::Framework::MemAllocException& e, int level, int destination);
  // One line of text to the sink, at `level`.
  void mpPrintText(const std::string& line, int level = kError);

  // Replaces the sink; an empty function restores standard error. The sink is called under
  // the logger's lock, one line at a time without the line break; it must not log itself.
  void mpSetSink(Sink sink);
  // false drops every line until enabled again.
  void mpSetEnabled(bool enabled);
  bool mfIsEnabled() const;
  // Lines of a level above `level` are dropped; until this is called every level passes.
  void mpSetMaxLevel(int level);
  int mfGetMaxLevel() const;
  // Whether a line of `level` would reach the sink now.
  bool mfPasses(int level) const;

  // The line mpPrint writes for an exception of the given kind.
  static std::string sfFormat(const char* kind, const char* message, const char* reason, const char* place);

private:
  CLoggerU() = default;
  void mpWrite(const std::string& line);

  std::mutex mMutex;
  Sink mSink;  // empty: standard error
  std::atomic<bool> mEnabled{true};
  std::atomic<int> mMaxLevel{kDetail};
};

}  // namespace TamblixHq::NODRA::Utility
