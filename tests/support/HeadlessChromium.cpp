#include "tests/support/HeadlessChromium.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace nodra::test {

namespace {

using Json = nlohmann::json;

std::string base64Decode(const std::string& text) {
  std::string out;
  unsigned bits = 0;
  int held = 0;
  for (const char c : text) {
    int v = c >= 'A' && c <= 'Z' ? c - 'A' : c >= 'a' && c <= 'z' ? c - 'a' + 26 : c >= '0' && c <= '9' ? c - '0' + 52
          : c == '+' ? 62 : c == '/' ? 63 : -1;
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out += static_cast<char>((bits >> held) & 0xFF);
    }
  }
  return out;
}

}  // namespace

std::string mfChromiumPath() {
  for (const char* name : {"chromium", "chromium-browser"}) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
      const std::string candidate = dir + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
  }
  return "";
}

CHeadlessChromium::CHeadlessChromium(const std::string& browser, const std::string& profileDir, int width,
                                     int height) {
  int toBrowser[2], fromBrowser[2];
  if (::pipe(toBrowser) != 0) return;
  if (::pipe(fromBrowser) != 0) {
    ::close(toBrowser[0]);
    ::close(toBrowser[1]);
    return;
  }
  // As root (in CI) Chromium runs only without its sandbox.
  const std::vector<std::string> args = {browser, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                                         "--remote-debugging-pipe", "--user-data-dir=" + profileDir,
                                         "--window-size=" + std::to_string(width) + "," + std::to_string(height),
                                         "about:blank"};
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  mPid = ::fork();
  if (mPid == 0) {
    // The browser reads commands on descriptor 3 and writes answers on 4.
    const int in = ::fcntl(toBrowser[0], F_DUPFD, 10), out = ::fcntl(fromBrowser[1], F_DUPFD, 10);
    ::dup2(in, 3);
    ::dup2(out, 4);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(toBrowser[0]);
  ::close(fromBrowser[1]);
  mToBrowser = toBrowser[1];
  mFromBrowser = fromBrowser[0];
  if (mPid < 0) return;
  const Json target = mfCall("Target.createTarget", {{"url", "about:blank"}}, false);
  if (!target.contains("targetId")) return;
  const Json attached = mfCall("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}}, false);
  if (!attached.contains("sessionId")) return;
  mSession = attached["sessionId"];
  mfCall("Emulation.setDeviceMetricsOverride",
         {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}});
}

CHeadlessChromium::~CHeadlessChromium() {
  if (mPid > 0) {
    if (mToBrowser >= 0) mfCall("Browser.close", Json::object(), false);
    for (int i = 0; i < 100 && ::waitpid(mPid, nullptr, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (i == 60) ::kill(mPid, SIGKILL);
    }
  }
  if (mToBrowser >= 0) ::close(mToBrowser);
  if (mFromBrowser >= 0) ::close(mFromBrowser);
}

Json CHeadlessChromium::mfCall(const std::string& method, const Json& params, bool toPage) {
  const int id = mNextId++;
  Json command{{"id", id}, {"method", method}, {"params", params}};
  if (toPage) command["sessionId"] = mSession;
  const std::string text = command.dump() + '\0';
  for (std::size_t sent = 0; sent < text.size();) {
    const ssize_t n = ::write(mToBrowser, text.data() + sent, text.size() - sent);
    if (n <= 0) {
      mError = "the browser does not read its commands";
      return nullptr;
    }
    sent += static_cast<std::size_t>(n);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    const std::size_t end = mPending.find('\0');
    if (end != std::string::npos) {
      const Json message = Json::parse(mPending.substr(0, end), nullptr, false);
      mPending.erase(0, end + 1);
      if (message.is_object() && message.value("id", -1) == id) {
        if (message.contains("error")) {
          mError = message["error"].dump();
          return nullptr;
        }
        return message.value("result", Json::object());
      }
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd wait{mFromBrowser, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
      mError = method + ": the browser did not answer";
      return nullptr;
    }
    char buffer[65536];
    const ssize_t n = ::read(mFromBrowser, buffer, sizeof buffer);
    if (n <= 0) {
      mError = method + ": the browser has gone";
      return nullptr;
    }
    mPending.append(buffer, static_cast<std::size_t>(n));
  }
}

void CHeadlessChromium::mpOpen(const std::string& url) { mfCall("Page.navigate", {{"url", url}}); }

Json CHeadlessChromium::mfEvaluate(const std::string& expression) {
  const Json reply = mfCall("Runtime.evaluate", {{"expression", expression}, {"awaitPromise", true},
                                                 {"returnByValue", true}});
  if (reply.is_null()) return nullptr;
  if (reply.contains("exceptionDetails")) {
    mError = reply["exceptionDetails"].dump();
    return nullptr;
  }
  return reply["result"].value("value", Json());
}

bool CHeadlessChromium::mfWaitUntil(const std::string& expression, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (mfEvaluate(expression) == true) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

bool CHeadlessChromium::mfScreenshot(const std::string& path) {
  const Json shot = mfCall("Page.captureScreenshot", {{"format", "png"}});
  if (!shot.contains("data")) return false;
  std::ofstream out(path, std::ios::binary);
  out << base64Decode(shot["data"].get<std::string>());
  return static_cast<bool>(out);
}

}  // namespace nodra::test
