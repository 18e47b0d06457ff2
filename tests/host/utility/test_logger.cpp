#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host/utility/CLoggerU.h"

using TamblixHq::NODRA::Utility::CLoggerU;
namespace IDL = TAMBLIX::NODRA::Framework;

namespace {

// Captures the lines of a logger for one test and restores standard error afterwards.
class CCapture {
public:
  explicit CCapture(CLoggerU* logger) : mLogger(logger) {
    mLogger->mpSetSink([this](const std::string& line) { mLines.push_back(line); });
  }
  ~CCapture() {
    mLogger->mpSetSink(nullptr);
    mLogger->mpSetEnabled(true);
  }
  std::vector<std::string> mLines;  // written under the logger's lock

private:
  CLoggerU* mLogger;
};

}  // namespace

TEST(CLoggerU, ExceptionsPrintAsOneLineWithReasonAndPlace) {
  CLoggerU* logger = CLoggerU::sfGetLoggerU(0);
  CCapture capture(logger);

  logger->mpPrint(IDL::DBAccessException("Unable to get the values", "get_values_by_index failed",
                                         "CRPC3ChannelImpl::get_values_by_index"),
                  0, 1);
  logger->mpPrint(IDL::MemAllocException("No memory", "new failed", "CX::f()"), 0, 1);
  logger->mpPrint(IDL::DBAccessException("", "", ""), 0, 1);
  logger->mpPrintText("plain line");

  ASSERT_EQ(capture.mLines.size(), 4u);
  EXPECT_EQ(capture.mLines[0],
            "DBAccessException: Unable to get the values (reason: get_values_by_index failed; "
            "at CRPC3ChannelImpl::get_values_by_index)");
  EXPECT_EQ(capture.mLines[1], "MemAllocException: No memory (reason: new failed; at CX::f())");
  EXPECT_EQ(capture.mLines[2], "DBAccessException:  (reason: ; at )");
  EXPECT_EQ(capture.mLines[3], "plain line");

  logger->mpSetEnabled(false);
  EXPECT_FALSE(logger->mfIsEnabled());
  logger->mpPrint(IDL::DBAccessException("m", "r", "p"), 0, 1);
  logger->mpPrintText("dropped");
  EXPECT_EQ(capture.mLines.size(), 4u);
  logger->mpSetEnabled(true);
  logger->mpPrintText("back");
  ASSERT_EQ(capture.mLines.size(), 5u);
  EXPECT_EQ(capture.mLines[4], "back");
}

TEST(CLoggerU, EachIdHasOneLoggerOfItsOwn) {
  CLoggerU* first = CLoggerU::sfGetLoggerU(0);
  EXPECT_EQ(CLoggerU::sfGetLoggerU(0), first);
  CLoggerU* other = CLoggerU::sfGetLoggerU(7);
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, first);
  EXPECT_EQ(CLoggerU::sfGetLoggerU(7), other);

  CCapture capture0(first);
  CCapture capture7(other);
  other->mpPrintText("to seven");
  EXPECT_TRUE(capture0.mLines.empty());
  ASSERT_EQ(capture7.mLines.size(), 1u);

  // Concurrent lines arrive whole and none is lost.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([first, t] {
      for (int i = 0; i < 200; ++i)
        first->mpPrint(IDL::DBAccessException("m", "r", std::to_string(t).c_str()), 0, 1);
    });
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(capture0.mLines.size(), 800u);
  for (const std::string& line : capture0.mLines)
    EXPECT_EQ(line.rfind("DBAccessException: m (reason: r; at ", 0), 0u) << line;
}

TEST(CLoggerU, LinesAboveTheMaximumLevelAreDropped) {
  CLoggerU* logger = CLoggerU::sfGetLoggerU(3);
  CCapture capture(logger);
  EXPECT_EQ(logger->mfGetMaxLevel(), CLoggerU::kDetail);  // every level passes at first

  logger->mpSetMaxLevel(CLoggerU::kInfo);
  logger->mpPrintText("error");
  logger->mpPrintText("info", CLoggerU::kInfo);
  logger->mpPrintText("detail", CLoggerU::kDetail);
  logger->mpPrint(IDL::DBAccessException("m", "r", "p"), CLoggerU::kDetail, 1);
  logger->mpPrint(IDL::MemAllocException("m", "r", "p"), CLoggerU::kDetail, 1);
  logger->mpPrint(IDL::DBAccessException("kept", "r", "p"), CLoggerU::kError, 1);
  EXPECT_EQ(capture.mLines, (std::vector<std::string>{"error", "info",
                                                      "DBAccessException: kept (reason: r; at p)"}));
  EXPECT_TRUE(logger->mfPasses(CLoggerU::kInfo));
  EXPECT_FALSE(logger->mfPasses(CLoggerU::kDetail));

  logger->mpSetMaxLevel(CLoggerU::kError);
  logger->mpPrintText("info again", CLoggerU::kInfo);
  EXPECT_EQ(capture.mLines.size(), 3u);
  // A disabled logger drops even errors, whatever its level.
  logger->mpSetEnabled(false);
  EXPECT_FALSE(logger->mfPasses(CLoggerU::kError));
  logger->mpSetMaxLevel(CLoggerU::kDetail);
}
