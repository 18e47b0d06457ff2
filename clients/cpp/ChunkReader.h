// Reads a run of values of one or more channels chunk by chunk and in order, with the calls
// for the next chunks already made while the caller uses the current one: over a network
// the server reads one chunk while another travels, and in process the reading runs beside
// the caller's writing. Every writer and counter of the client programs reads through it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Client {

namespace IDL = ::TAMBLIX::NODRA::Framework;

// The same run of values of each channel read together.
struct ChunkRow {
  CORBA::ULong mStart = 1;  // the first value of the run, from 1
  CORBA::ULong mCount = 0;  // values of the run: each part holds at least as many
  std::vector<IDL::RealValueSeqUnion_var> mParts;  // one per channel, in the reader's order

  CORBA::ULong mfLength(std::size_t part) const;
  // Value i (from 0) of part `part` as a double, whatever precision the object answered.
  double mfValue(std::size_t part, CORBA::ULong i) const {
    const IDL::RealValueSeqUnion& values = mParts[part].in();
    return values._d() == IDL::DOUBLE_PRECISION ? values.double_sequence()[i] : values.float_sequence()[i];
  }
};

class ChunkReader {
public:
  // Calls kept in flight beyond the row the caller holds.
  static constexpr std::size_t kInFlight = 2;
  // Bytes the values of the row the caller holds and of the calls in flight may take
  // together, whatever the number of channels: rows are cut so that they fit, counting every
  // value as a double.
  static constexpr std::size_t kRowBudget = std::size_t{6} << 20;

  // Values of each channel a row of `channels` channels holds: `chunk`, or fewer so that
  // the rows in hand and in flight stay within kRowBudget; at least 1.
  static CORBA::ULong sfRowValues(std::size_t channels, CORBA::ULong chunk);

  // Reads `count` values from `start` (from 1) of each of `channels` in rows of at most
  // `chunk` values (fewer for many channels: sfRowValues). A row is as long as the shortest answer to its calls; the next row
  // starts after it. With `count` 0 the objects are still asked once, so that a channel
  // they cannot read is reported rather than read as empty. Nothing is called before the
  // first mfNext. REQUIRES: the references outlive the reader; 1 <= chunk.
  ChunkReader(std::vector<IDL::RealValues_ptr> channels, CORBA::ULong start, CORBA::ULong count,
              CORBA::ULong chunk);
  // Waits for the calls in flight (each bounded by the ORB's call timeout).
  ~ChunkReader();
  ChunkReader(const ChunkReader&) = delete;
  ChunkReader& operator=(const ChunkReader&) = delete;

  // The next row, or nothing after the last. Throws what a call threw, and
  // std::runtime_error when a server answers no values at a position before the end.
  std::optional<ChunkRow> mfNext();

private:
  struct Call {
    CORBA::ULong mStart = 0;
    CORBA::ULong mCount = 0;
    bool mDone = false;
    bool mStale = false;  // asked from a place that a short answer before it made wrong
    ChunkRow mRow;
    std::exception_ptr mError;
  };

  ChunkRow mfRead(CORBA::ULong start, CORBA::ULong count) const;
  // REQUIRES: mMutex held. Queues calls until kInFlight are waiting or the run is covered.
  void mpQueueCalls();
  void mpWork();

  const std::vector<IDL::RealValues_ptr> mChannels;
  const std::uint64_t mEnd;  // one past the last value (2^32 for a channel's last)
  const CORBA::ULong mChunk;
  std::uint64_t mNext;       // the first value not yet asked for
  bool mAskedEmpty = false;  // the one call of an empty run was made

  std::mutex mMutex;  // guards what follows
  std::condition_variable mChanged;
  std::deque<Call> mCalls;  // in order; the workers take the first not yet taken
  std::size_t mTaken = 0;   // calls at the front of mCalls a worker has taken
  bool mStopping = false;
  std::vector<std::thread> mWorkers;  // started when a run needs more than one row
};

}  // namespace TamblixHq::NODRA::Client
