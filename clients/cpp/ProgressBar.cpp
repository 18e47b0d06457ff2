#include "clients/cpp/ProgressBar.h"

#include <unistd.h>

#include <string>

namespace TamblixHq::NODRA::Client {

ProgressBar::ProgressBar(std::uint64_t total, std::FILE* stream)
    : mStream(stream != nullptr && ::isatty(::fileno(stream)) ? stream : nullptr), mTotal(total) {}

ProgressBar::~ProgressBar() {
  if (mStream != nullptr && mShownPercent >= 0) {
    std::fputs("\r\033[K", mStream);
    std::fflush(mStream);
  }
}

void ProgressBar::mpAdvance(std::uint64_t done) {
  mDone += done;
  if (mStream == nullptr) return;
  const int percent = mTotal == 0 ? 100 : static_cast<int>(mDone * 100 / mTotal);
  if (percent != mShownPercent) {
    mShownPercent = percent;
    mpDraw();
  }
}

void ProgressBar::mpDraw() {
  constexpr int kWidth = 40;
  const int filled = mShownPercent * kWidth / 100;
  const std::string bar = std::string(filled, '#') + std::string(kWidth - filled, '.');
  std::fprintf(mStream, "\r[%s] %3d%%  %llu of %llu values", bar.c_str(), mShownPercent,
               static_cast<unsigned long long>(mDone), static_cast<unsigned long long>(mTotal));
  std::fflush(mStream);
}

}  // namespace TamblixHq::NODRA::Client
