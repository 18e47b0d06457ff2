#include "host/utility/CLoggerU.h"

#include <cstdio>
#include <map>

namespace TamblixHq::NODRA::Utility {

namespace {

const char* fText(const char* text) { return text == nullptr ? "" : text; }

}  // namespace

CLoggerU* CLoggerU::sfGetLoggerU(int id) {
  // Leaked on purpose: loggers must outlive every static object and thread that logs.
  static std::mutex* const sMutex = new std::mutex;
  static auto* const sLoggers = new std::map<int, CLoggerU*>;
  std::lock_guard<std::mutex> lock(*sMutex);
  CLoggerU*& logger = (*sLoggers)[id];
  if (logger == nullptr) logger = new CLoggerU;
  return logger;
}

std::string CLoggerU::sfFormat(const char* kind, const char* message, const char* reason, const char* place) {
  std::string line(fText(kind));
  line.append(": ").append(fText(message));
  line.append(" (reason: ").append(fText(reason));
  line.append("; at ").append(fText(place)).append(")");
  return line;
}

void CLoggerU::mpPrint(const TAMBLIX::NODRA::Framework::DBAccessException& e, int level, int /*destination*/) {
  if (!mfPasses(level)) return;
  try {
    mpWrite(sfFormat("DBAccessException", e.message.in(), e.reason.in(), e.place.in()));
  } catch (...) {
  }
}

void CLoggerU::mpPrint(const TAMBLIX::NODRA::Framework::MemAllocException& e, int level, int /*destination*/) {
  if (!mfPasses(level)) return;
  try {
    mpWrite(sfFormat("MemAllocException", e.message.in(), e.reason.in(), e.place.in()));
  } catch (...) {
  }
}

void CLoggerU::mpPrintText(const std::string& line, int level) {
  if (!mfPasses(level)) return;
  mpWrite(line);
}

void CLoggerU::mpWrite(const std::string& line) {
  // Logging happens on the way to a throw: it must never raise an exception of its own.
  try {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mSink) {
      mSink(line);
      return;
    }
    std::string withBreak(line);
    withBreak.push_back('\n');
    std::fwrite(withBreak.data(), 1, withBreak.size(), stderr);
  } catch (...) {
  }
}

void CLoggerU::mpSetSink(Sink sink) {
  std::lock_guard<std::mutex> lock(mMutex);
  mSink = std::move(sink);
}

void CLoggerU::mpSetEnabled(bool enabled) { mEnabled.store(enabled, std::memory_order_relaxed); }

bool CLoggerU::mfIsEnabled() const { return mEnabled.load(std::memory_order_relaxed); }

void CLoggerU::mpSetMaxLevel(int level) { mMaxLevel.store(level, std::memory_order_relaxed); }

int CLoggerU::mfGetMaxLevel() const { return mMaxLevel.load(std::memory_order_relaxed); }

bool CLoggerU::mfPasses(int level) const {
  return mEnabled.load(std::memory_order_relaxed) && level <= mMaxLevel.load(std::memory_order_relaxed);
}

}  // namespace TamblixHq::NODRA::Utility
