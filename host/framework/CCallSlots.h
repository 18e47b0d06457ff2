// Bounds how many calls of one kind a server runs at once: a counting semaphore whose wait
// is bounded, so that a call beyond the bound waits a while and is then refused with a clear
// error instead of queueing without end. The process has two: large replies (their memory)
// and rainflow counts (their cores). Also the stop flag that ends long counts when the
// program stops, and the return of freed memory to the system after large replies.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

class CCallSlots {
public:
  // `busy` is the refusal's text: what the caller is told to do.
  CCallSlots(unsigned slots, std::chrono::milliseconds wait, std::string busy);
  CCallSlots(const CCallSlots&) = delete;
  CCallSlots& operator=(const CCallSlots&) = delete;

  // Slots and wait for calls to come; calls holding a slot keep it. REQUIRES: 1 <= slots.
  void mpConfigure(unsigned slots, std::chrono::milliseconds wait);
  unsigned mfSlots() const;
  unsigned mfTaken() const;
  // Slots given back since the start.
  std::uint64_t mfReleases() const;
  // Whether `e` is a pool's refusal, which a servant passes on as it is.
  static bool sfIsBusy(const ::TAMBLIX::NODRA::Framework::DBAccessException& e);

  // A slot held for a scope. One thread takes a slot of a pool once: a call made inside a
  // call that holds one uses that one. Raises DBAccessException naming `place`, with the
  // pool's busy text, when no slot frees within the wait.
  class Slot {
  public:
    // Takes no slot when `needed` is false.
    Slot(CCallSlots& pool, const char* place, bool needed = true);
    ~Slot();
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

  private:
    CCallSlots* mPool = nullptr;  // when a slot is held here
  };

  // Replies of more bytes than this take a slot of sfLargeReplies.
  static constexpr std::size_t kLargeReplyBytes = std::size_t{1} << 20;
  // Large replies at once: 4 by default.
  static CCallSlots& sfLargeReplies();
  // A slot of sfLargeReplies for a reply of `bytes`, none for a small one.
  static bool sfIsLarge(std::uint64_t bytes) { return bytes > kLargeReplyBytes; }
  // Rainflow counts at once: as many as the machine has cores, by default.
  static CCallSlots& sfCounts();

  // The stop flag of long calls: once set, a rainflow count in flight ends at its next chunk
  // (within a chunk's reading) with DBAccessException "the server is stopping", and new
  // ones are refused alike. A program sets it when it is told to stop, before it waits for
  // the calls in flight.
  static void sfSetStopping(bool stopping);
  static bool sfIsStopping();

private:
  bool mfAcquire();
  void mpRelease();

  const std::string mBusy;
  mutable std::mutex mMutex;  // guards what follows
  std::condition_variable mFreed;
  unsigned mSlots;
  std::chrono::milliseconds mWait;
  unsigned mTaken = 0;
  std::uint64_t mReleases = 0;
};

// Gives freed memory back to the system after large replies: the allocator keeps what a
// thread freed for that thread's next use, so without this a burst of large replies leaves
// the process near its peak. Sets the process's allocator thresholds once, and trims from a
// thread of its own while it lives.
class CMemoryTrimmer {
public:
  explicit CMemoryTrimmer(std::chrono::milliseconds period = std::chrono::milliseconds(500));
  ~CMemoryTrimmer();
  CMemoryTrimmer(const CMemoryTrimmer&) = delete;
  CMemoryTrimmer& operator=(const CMemoryTrimmer&) = delete;

private:
  void mpRun();

  const std::chrono::milliseconds mPeriod;
  std::mutex mMutex;
  std::condition_variable mChanged;
  bool mStopping = false;
  std::thread mThread;
};

}  // namespace TamblixHq::NODRA::Framework
