// A headless Chromium page driven over the DevTools protocol on a pipe, for end-to-end
// tests of the viewer page: load an address, evaluate script, wait for a condition, save a
// screenshot. Not safe to share between threads.
#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>

#include <string>

namespace nodra::test {

// Chromium of the system, or "" when there is none.
std::string mfChromiumPath();

class CHeadlessChromium {
public:
  // Starts `browser` headless with its profile in `profileDir` and a page of `width` x
  // `height` CSS pixels; mfStarted() says whether it answers.
  CHeadlessChromium(const std::string& browser, const std::string& profileDir, int width, int height);
  ~CHeadlessChromium();
  CHeadlessChromium(const CHeadlessChromium&) = delete;
  CHeadlessChromium& operator=(const CHeadlessChromium&) = delete;

  bool mfStarted() const { return !mSession.empty(); }
  void mpOpen(const std::string& url);
  // The value of `expression` in the page, promises awaited; null when it throws (the
  // message is then in mfLastError()).
  nlohmann::json mfEvaluate(const std::string& expression);
  // Evaluates `expression` until it is true; false if it has not been within `seconds`.
  bool mfWaitUntil(const std::string& expression, double seconds = 30);
  // The page as shown, as PNG at `path`; false when none was taken.
  bool mfScreenshot(const std::string& path);
  const std::string& mfLastError() const { return mError; }

private:
  // Sends a command and answers its result (events in between are skipped); null and
  // mError set on an error or when the browser does not answer within 60 s.
  nlohmann::json mfCall(const std::string& method, const nlohmann::json& params, bool toPage = true);

  pid_t mPid = -1;
  int mToBrowser = -1;
  int mFromBrowser = -1;
  int mNextId = 1;
  std::string mSession;
  std::string mPending;  // bytes read beyond the last message
  std::string mError;
};

}  // namespace nodra::test
