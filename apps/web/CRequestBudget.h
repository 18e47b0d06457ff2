// What one request may use, declared by its route and enforced by the server: values read
// (all its files and channels together), files opened, time, and whether it is one of the
// bounded heavy or streamed requests. A request ends at its next check once its deadline
// has passed, its client has left or the server is stopping.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace TamblixHq::NODRA::Web {

// A route's declaration of what one of its requests may use.
struct RouteBudget {
  std::uint64_t mValues = 0;  // values read, all files and channels together
  std::size_t mFiles = 1;     // files opened
  bool mHeavy = false;        // it counts or reads whole channels: one of the bounded heavy requests
  bool mStreamed = false;     // its answer is written as it is read: one of an address's streams
};

class CRequestBudget {
public:
  using Clock = std::chrono::steady_clock;

  // `time` runs from now; `clientGone` tells whether the client has closed its connection;
  // `stopping` is the server's flag; `release` runs when the budget ends (it frees the
  // request's slot).
  CRequestBudget(const RouteBudget& limits, std::chrono::milliseconds time, std::function<bool()> clientGone,
                 const std::atomic<bool>& stopping, std::function<void()> release = {});
  ~CRequestBudget();
  CRequestBudget(const CRequestBudget&) = delete;
  CRequestBudget& operator=(const CRequestBudget&) = delete;

  // Takes `values` more from the request's values; throws HttpError 413 beyond them,
  // naming `what` (the values asked for: "the count of 3 files") and `hint` (what to do).
  void mpChargeValues(std::uint64_t values, const std::string& what, const std::string& hint = "");
  // Takes `files` more files; 413 beyond them.
  void mpChargeFiles(std::size_t files);
  // Throws HttpError 503 when the deadline has passed or the server stops, and ClientGone
  // when the client has left. Cheap enough for every chunk.
  void mpCheck() const;

private:
  RouteBudget mLimits;
  std::chrono::milliseconds mTime;
  Clock::time_point mDeadline;
  std::function<bool()> mClientGone;
  const std::atomic<bool>& mStopping;
  std::function<void()> mRelease;
  std::uint64_t mValues = 0;
  std::size_t mFiles = 0;
};

using RequestBudget = std::shared_ptr<CRequestBudget>;

}  // namespace TamblixHq::NODRA::Web
