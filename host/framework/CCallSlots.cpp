#include "host/framework/CCallSlots.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

#include "host/utility/RaiseLogged.h"

namespace TamblixHq::NODRA::Framework {

namespace {

// The pools whose slot the calling thread holds.
thread_local std::vector<const CCallSlots*> tHeld;

std::atomic<bool> gStopping{false};

constexpr const char* kBusyReason = "no free slot";

}  // namespace

CCallSlots::CCallSlots(unsigned slots, std::chrono::milliseconds wait, std::string busy)
    : mBusy(std::move(busy)), mSlots(std::max(1u, slots)), mWait(wait) {}

void CCallSlots::mpConfigure(unsigned slots, std::chrono::milliseconds wait) {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mSlots = std::max(1u, slots);
    mWait = wait;
  }
  mFreed.notify_all();
}

unsigned CCallSlots::mfSlots() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mSlots;
}

unsigned CCallSlots::mfTaken() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mTaken;
}

std::uint64_t CCallSlots::mfReleases() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mReleases;
}

bool CCallSlots::sfIsBusy(const ::TAMBLIX::NODRA::Framework::DBAccessException& e) {
  return std::string(e.reason.in()) == kBusyReason;
}

bool CCallSlots::mfAcquire() {
  std::unique_lock<std::mutex> lock(mMutex);
  if (!mFreed.wait_for(lock, mWait, [&] { return mTaken < mSlots; })) return false;
  ++mTaken;
  return true;
}

void CCallSlots::mpRelease() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    --mTaken;
    ++mReleases;
  }
  mFreed.notify_one();
}

CCallSlots::Slot::Slot(CCallSlots& pool, const char* place, bool needed) {
  if (!needed || std::find(tHeld.begin(), tHeld.end(), &pool) != tHeld.end()) return;
  if (!pool.mfAcquire()) {
    Utility::raiseLogged<::TAMBLIX::NODRA::Framework::DBAccessException>(pool.mBusy, kBusyReason, place);
  }
  mPool = &pool;
  tHeld.push_back(&pool);
}

CCallSlots::Slot::~Slot() {
  if (!mPool) return;
  tHeld.erase(std::find(tHeld.begin(), tHeld.end(), mPool));
  mPool->mpRelease();
}

CCallSlots& CCallSlots::sfLargeReplies() {
  static CCallSlots pool(4, std::chrono::seconds(5), "the server is busy with large replies; try again");
  return pool;
}

CCallSlots& CCallSlots::sfCounts() {
  static CCallSlots pool(std::max(1u, std::thread::hardware_concurrency()), std::chrono::seconds(5),
                         "the server is counting at its limit; try again");
  return pool;
}

void CCallSlots::sfSetStopping(bool stopping) { gStopping = stopping; }

bool CCallSlots::sfIsStopping() { return gStopping; }

CMemoryTrimmer::CMemoryTrimmer(std::chrono::milliseconds period) : mPeriod(period) {
  // Left to itself the allocator raises both thresholds after a large block is freed (up to
  // 32 MiB and 64 MiB), and from then on keeps each thread's arena at its peak: fixed, a
  // block of 4 MiB or more is mapped on its own and unmapped when freed, and an arena gives
  // back a free top beyond 4 MiB at once. malloc_trim then frees what lies between. Value
  // chunks (at most 1 MiB in the client programs' reading) stay below, reused unmapped.
  ::mallopt(M_MMAP_THRESHOLD, 4 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 4 << 20);
  mThread = std::thread([this] { mpRun(); });
}

CMemoryTrimmer::~CMemoryTrimmer() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mStopping = true;
  }
  mChanged.notify_all();
  mThread.join();
}

void CMemoryTrimmer::mpRun() {
  // A reply's memory is freed after its slot, once the ORB has sent it, which takes as long
  // as the client takes to read it: trim every period for a few periods after a release.
  constexpr int kTrimsAfterARelease = 6;
  std::uint64_t seen = CCallSlots::sfLargeReplies().mfReleases();
  int trims = 0;  // still to do
  std::unique_lock<std::mutex> lock(mMutex);
  while (!mChanged.wait_for(lock, mPeriod, [&] { return mStopping; })) {
    const std::uint64_t releases = CCallSlots::sfLargeReplies().mfReleases();
    if (releases != seen) trims = kTrimsAfterARelease;
    seen = releases;
    if (trims > 0) {
      --trims;
      ::malloc_trim(0);
    }
  }
}

}  // namespace TamblixHq::NODRA::Framework
