#include "clients/cpp/ChunkReader.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace TamblixHq::NODRA::Client {

CORBA::ULong ChunkRow::mfLength(std::size_t part) const {
  const IDL::RealValueSeqUnion& values = mParts[part].in();
  return values._d() == IDL::DOUBLE_PRECISION ? values.double_sequence().length()
                                              : values.float_sequence().length();
}

CORBA::ULong ChunkReader::sfRowValues(std::size_t channels, CORBA::ULong chunk) {
  const std::size_t rowBytes = (kInFlight + 1) * std::max<std::size_t>(1, channels) * sizeof(double);
  return static_cast<CORBA::ULong>(std::clamp<std::size_t>(kRowBudget / rowBytes, 1, std::max<CORBA::ULong>(1, chunk)));
}

ChunkReader::ChunkReader(std::vector<IDL::RealValues_ptr> channels, CORBA::ULong start, CORBA::ULong count,
                         CORBA::ULong chunk)
    : mChannels(std::move(channels)),
      mEnd(std::uint64_t{start} + count),
      mChunk(sfRowValues(mChannels.size(), chunk)),
      mNext(start),
      mAskedEmpty(count != 0) {}

ChunkReader::~ChunkReader() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mStopping = true;
  }
  mChanged.notify_all();
  for (std::thread& worker : mWorkers) worker.join();
}

ChunkRow ChunkReader::mfRead(CORBA::ULong start, CORBA::ULong count) const {
  ChunkRow row;
  row.mStart = start;
  row.mCount = count;
  row.mParts.reserve(mChannels.size());
  for (std::size_t i = 0; i < mChannels.size(); ++i) {
    row.mParts.emplace_back(mChannels[i]->get_value_chunk(start, count));
    row.mCount = std::min(row.mCount, row.mfLength(i));
  }
  return row;
}

void ChunkReader::mpQueueCalls() {
  std::size_t current = 0;
  for (const Call& call : mCalls) current += call.mStale ? 0 : 1;
  for (; current < kInFlight && mNext < mEnd; ++current) {
    Call call;
    call.mStart = static_cast<CORBA::ULong>(mNext);
    call.mCount = static_cast<CORBA::ULong>(std::min<std::uint64_t>(mChunk, mEnd - mNext));
    mNext += call.mCount;
    mCalls.push_back(std::move(call));
  }
}

void ChunkReader::mpWork() {
  std::unique_lock<std::mutex> lock(mMutex);
  for (;;) {
    mChanged.wait(lock, [&] { return mStopping || mTaken < mCalls.size(); });
    if (mStopping) return;
    // A deque keeps references to its other elements when calls are added or removed at
    // its ends, so this one stays put while the lock is let go.
    Call& call = mCalls[mTaken++];
    lock.unlock();
    ChunkRow row;
    std::exception_ptr error;
    try {
      row = mfRead(call.mStart, call.mCount);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    call.mRow = std::move(row);
    call.mError = error;
    call.mDone = true;
    mChanged.notify_all();
  }
}

std::optional<ChunkRow> ChunkReader::mfNext() {
  if (!mAskedEmpty) {
    mAskedEmpty = true;
    mfRead(static_cast<CORBA::ULong>(mNext), 0);
    return std::nullopt;
  }
  std::unique_lock<std::mutex> lock(mMutex);
  // The last row with nothing in flight: read here, without a thread.
  if (mCalls.empty() && mEnd - mNext <= mChunk) {
    if (mNext >= mEnd) return std::nullopt;
    const auto start = static_cast<CORBA::ULong>(mNext);
    lock.unlock();
    ChunkRow row = mfRead(start, static_cast<CORBA::ULong>(mEnd - start));
    if (row.mCount == 0) throw std::runtime_error("the server answered no values at " + std::to_string(start));
    lock.lock();
    mNext = std::uint64_t{start} + row.mCount;
    return row;
  }
  if (mWorkers.empty()) {
    for (std::size_t i = 0; i < kInFlight; ++i) mWorkers.emplace_back([this] { mpWork(); });
  }
  for (;;) {
    mpQueueCalls();
    mChanged.notify_all();
    mChanged.wait(lock, [&] { return !mCalls.empty() && mCalls.front().mDone; });
    Call call = std::move(mCalls.front());
    mCalls.pop_front();
    --mTaken;
    if (call.mStale) continue;
    if (call.mError) std::rethrow_exception(call.mError);
    if (call.mRow.mCount == 0) {
      throw std::runtime_error("the server answered no values at " + std::to_string(call.mStart));
    }
    if (call.mRow.mCount < call.mCount) {
      // A short answer: the calls after it asked from the wrong place. Those not taken yet
      // are dropped, those in flight are let finish and passed over; reading goes on after
      // the values that came.
      while (mCalls.size() > mTaken) mCalls.pop_back();
      for (Call& later : mCalls) later.mStale = true;
      mNext = std::uint64_t{call.mStart} + call.mRow.mCount;
    }
    return std::move(call.mRow);
  }
}

}  // namespace TamblixHq::NODRA::Client
