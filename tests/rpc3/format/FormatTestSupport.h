// Fixtures shared by the format-layer tests: a scratch directory published as access point
// "AP", captured logger lines, and the fields of a header failure. LogCapture may be fed from
// several threads; the rest belongs to the test's thread.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/files/CConfinedFileId.h"
#include "host/files/CFilePool.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/CLoggerU.h"
#include "host/utility/CStringU.h"
#include "nodra/Framework.hh"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace nodra::test {

// Collects the lines of logger 0 while alive; standard error again afterwards.
class LogCapture {
public:
  LogCapture() {
    TamblixHq::NODRA::Utility::CLoggerU::sfGetLoggerU(0)->mpSetSink([this](const std::string& line) {
      const std::lock_guard<std::mutex> lock(mMutex);
      mLines.push_back(line);
    });
  }
  ~LogCapture() { TamblixHq::NODRA::Utility::CLoggerU::sfGetLoggerU(0)->mpSetSink(nullptr); }
  std::vector<std::string> mfLines() const {
    const std::lock_guard<std::mutex> lock(mMutex);
    return mLines;
  }
  bool mfContains(const std::string& text) const {
    for (const auto& line : mfLines()) {
      if (line.find(text) != std::string::npos) {
        return true;
      }
    }
    return false;
  }

private:
  mutable std::mutex mMutex;
  std::vector<std::string> mLines;
};

// Message, reason and place of a DBAccessException.
struct Failure {
  std::string mMessage, mReason, mPlace;
};

template <typename Action>
std::optional<Failure> mfFailureOf(Action action) {
  try {
    action();
  } catch (const TAMBLIX::NODRA::Framework::DBAccessException& e) {
    return Failure{e.message.in(), e.reason.in(), e.place.in()};
  }
  return std::nullopt;
}

// A scratch directory published as access point "AP" for the test's life.
class FormatTest : public ::testing::Test {
protected:
  FormatTest() {
    TamblixHq::NODRA::Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(
        "AP", mDir.mfPath().string());
  }
  ~FormatTest() override {
    TamblixHq::NODRA::Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpRemoveAccessPoint("AP");
  }

  // Writes `bytes` as `relative` ('/'-separated) below the scratch directory.
  // Idle pooled handles may hold the old bytes of a rewritten file in their buffers, so they
  // are closed after every write.
  void mpWrite(const std::string& relative, const Bytes& bytes) {
    mDir.mfWriteFile(relative, bytes);
    TamblixHq::NODRA::Framework::CFilePool::sfGetFilePool().mpCloseIdle();
  }
  // The key of a file directly in the scratch directory.
  TamblixHq::NODRA::Utility::CStringU mfKey(const std::string& name) const {
    return TamblixHq::NODRA::Framework::CConfinedFileId("AP", "", name).mfGetKey();
  }

  ScratchDir mDir;
  LogCapture mLog;
};

// Header bytes of the given (keyword, value) records, blocks computed with one padding record.
inline Bytes mfHeaderOf(const std::vector<std::pair<std::string, std::string>>& records) {
  Rpc3HeaderWriter writer;
  for (const auto& record : records) {
    writer.mfAdd(record.first, record.second);
  }
  return writer.mfGetBytes();
}

}  // namespace nodra::test
