// A one-line progress bar on standard error for long reads, drawn only when standard error
// is a terminal so that logs and pipes stay clean.
#pragma once

#include <cstdint>
#include <cstdio>

namespace TamblixHq::NODRA::Client {

class ProgressBar {
public:
  // `total` units of work; `stream` is drawn on only when it is a terminal.
  explicit ProgressBar(std::uint64_t total, std::FILE* stream = stderr);
  // Clears the bar's line.
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // `done` more units finished; redraws when the shown percentage changes.
  void mpAdvance(std::uint64_t done);
  bool mfIsShown() const { return mStream != nullptr; }

private:
  void mpDraw();

  std::FILE* mStream;  // null: not a terminal
  std::uint64_t mTotal;
  std::uint64_t mDone = 0;
  int mShownPercent = -1;
};

}  // namespace TamblixHq::NODRA::Client
