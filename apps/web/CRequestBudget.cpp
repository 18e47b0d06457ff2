#include "apps/web/CRequestBudget.h"

#include <utility>

#include "apps/web/HttpError.h"

namespace TamblixHq::NODRA::Web {

CRequestBudget::CRequestBudget(const RouteBudget& limits, std::chrono::milliseconds time,
                               std::function<bool()> clientGone, const std::atomic<bool>& stopping,
                               std::function<void()> release)
    : mLimits(limits),
      mTime(time),
      mDeadline(Clock::now() + time),
      mClientGone(std::move(clientGone)),
      mStopping(stopping),
      mRelease(std::move(release)) {}

CRequestBudget::~CRequestBudget() {
  if (mRelease) mRelease();
}

void CRequestBudget::mpChargeValues(std::uint64_t values, const std::string& what, const std::string& hint) {
  if (values > mLimits.mValues - mValues) {
    throw HttpError{413,
                    what + " reads " + std::to_string(mValues + values) + " values; one request reads at most " +
                        std::to_string(mLimits.mValues) + (hint.empty() ? "" : " (" + hint + ")"),
                    ""};
  }
  mValues += values;
}

void CRequestBudget::mpChargeFiles(std::size_t files) {
  if (files > mLimits.mFiles - mFiles) {
    throw HttpError{413, "one request opens at most " + std::to_string(mLimits.mFiles) + " files", ""};
  }
  mFiles += files;
}

void CRequestBudget::mpCheck() const {
  if (mStopping.load(std::memory_order_relaxed)) throw HttpError{503, "the viewer is stopping", ""};
  if (Clock::now() > mDeadline) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(mTime).count();
    throw HttpError{503,
                    "the request took longer than the " + std::to_string(seconds) +
                        " s one request may take (nodra-web --request-seconds)",
                    ""};
  }
  if (mClientGone && mClientGone()) throw ClientGone{};
}

}  // namespace TamblixHq::NODRA::Web
