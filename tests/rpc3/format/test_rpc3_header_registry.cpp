#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rpc3/format/CRPC3HeaderRegistry.h"
#include "tests/rpc3/format/FormatTestSupport.h"

namespace {

using namespace nodra::test;
using TamblixHq::NODRA::Drivers::RPC3::CRPC3Header;
using TamblixHq::NODRA::Drivers::RPC3::CRPC3HeaderRegistry;
using TamblixHq::NODRA::Framework::CConfinedFileId;
using TamblixHq::NODRA::Utility::CFileVersionU;
using TamblixHq::NODRA::Utility::CStringU;

int faultsNever = 0;  // an address no header has

class Rpc3HeaderRegistryTest : public FormatTest {
protected:
  ~Rpc3HeaderRegistryTest() override {
    // Every test gives back what it acquired; a leftover entry is a registry fault.
    EXPECT_EQ(mRegistry->mfGetNumberOfEntries(), 0u);
  }
  // A file whose "MARK" keyword tells it apart from the others.
  void mpWriteMarked(const std::string& relative, const std::string& mark) {
    mpWrite(relative, mfHeaderOf({{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "4"},
                                  {"MARK", mark}}));
  }
  static std::string mfMark(const CRPC3Header* header) {
    return header->mfGetKeywordValue(CStringU("MARK")).mfStd();
  }

  CRPC3HeaderRegistry* mRegistry = CRPC3HeaderRegistry::sfGetHeaderRegistry();
};

TEST_F(Rpc3HeaderRegistryTest, LastReleaseFreesTheHeaderAndTheNextAcquireRereadsTheFile) {
  mpWriteMarked("a.rpc", "old");
  CRPC3Header* first = mRegistry->mfAcquireHeader("AP", "", "a.rpc");
  CRPC3Header* second = mRegistry->mfAcquireHeader("AP", "", "a.rpc");
  EXPECT_EQ(first, second);
  EXPECT_EQ(mRegistry->mfGetCount(mfKey("a.rpc")), 2);

  mRegistry->mpReleaseHeader(second);
  EXPECT_EQ(mRegistry->mfGetCount(mfKey("a.rpc")), 1);
  EXPECT_EQ(mfMark(first), "old");
  mRegistry->mpReleaseHeader(first);
  EXPECT_EQ(mRegistry->mfGetNumberOfEntries(), 0u);
  EXPECT_EQ(mRegistry->mfGetCount(mfKey("a.rpc")), 0);

  mpWriteMarked("a.rpc", "new");
  CRPC3Header* reread = mRegistry->mfAcquireHeader("AP", "", "a.rpc");
  EXPECT_EQ(mfMark(reread), "new");
  mRegistry->mpReleaseHeader(reread);
}

TEST_F(Rpc3HeaderRegistryTest, EachVersionOfAFileHasAHeaderOfItsOwn) {
  mpWriteMarked("v.rpc", "first");
  CRPC3Header* first = mRegistry->mfAcquireHeader("AP", "", "v.rpc");
  const std::optional<CFileVersionU> firstVersion = first->mfGetVersion();
  ASSERT_TRUE(firstVersion.has_value());

  // Rewritten in place (a longer mark changes the size): a new acquire reads the new header,
  // while the holder of the old one keeps it, and asking for the old version is refused.
  mpWriteMarked("v.rpc", "second, longer");
  CRPC3Header* second = mRegistry->mfAcquireHeader("AP", "", "v.rpc");
  EXPECT_NE(first, second);
  EXPECT_EQ(mfMark(first), "first");
  EXPECT_EQ(mfMark(second), "second, longer");
  EXPECT_EQ(mRegistry->mfGetCount(mfKey("v.rpc")), 2);
  const CConfinedFileId file("AP", "", "v.rpc");
  EXPECT_EQ(mRegistry->mfAcquireHeader(file, firstVersion), first);  // still registered: shared
  mRegistry->mpReleaseHeader(first);
  mRegistry->mpReleaseHeader(first);
  const auto failure = mfFailureOf([&] { mRegistry->mfAcquireHeader(file, firstVersion); });
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->mMessage.find("file changed while open"), std::string::npos) << failure->mMessage;
  EXPECT_EQ(mRegistry->mfGetNumberOfEntries(), 1u);
  mRegistry->mpReleaseHeader(second);
}

TEST_F(Rpc3HeaderRegistryTest, KeysKeepEverySeparatorAndLetterCase) {
  mpWriteMarked("f.rpc", "top");
  mpWriteMarked("sub/f.rpc", "sub");
  mpWriteMarked("F.rpc", "upper");
  const std::string dir = mDir.mfPath().string();
  TamblixHq::NODRA::Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint("SLASHED", dir + "/");

  CRPC3Header* top = mRegistry->mfAcquireHeader("AP", "", "f.rpc");
  CRPC3Header* sub = mRegistry->mfAcquireHeader("AP", "sub", "f.rpc");
  CRPC3Header* upper = mRegistry->mfAcquireHeader("AP", "", "F.rpc");
  CRPC3Header* slashed = mRegistry->mfAcquireHeader("SLASHED", "", "f.rpc");
  EXPECT_EQ(mRegistry->mfGetNumberOfEntries(), 4u);
  EXPECT_EQ(mfMark(top), "top");
  EXPECT_EQ(mfMark(sub), "sub");
  EXPECT_EQ(mfMark(upper), "upper");
  EXPECT_EQ(mfMark(slashed), "top");
  EXPECT_NE(top, slashed);  // same file, different key text
  EXPECT_EQ(mRegistry->mfGetCount(CStringU(dir + "\\f.rpc")), 1);
  EXPECT_EQ(mRegistry->mfGetCount(CStringU(dir + "\\sub\\f.rpc")), 1);
  EXPECT_EQ(mRegistry->mfGetCount(CStringU(dir + "\\F.rpc")), 1);
  EXPECT_EQ(mRegistry->mfGetCount(CStringU(dir + "/\\f.rpc")), 1);

  // Releasing one key leaves the others alone.
  mRegistry->mpReleaseHeader(upper);
  EXPECT_EQ(mRegistry->mfGetCount(CStringU(dir + "\\f.rpc")), 1);
  EXPECT_EQ(mfMark(top), "top");
  mRegistry->mpReleaseHeader(top);
  mRegistry->mpReleaseHeader(sub);
  mRegistry->mpReleaseHeader(slashed);
  TamblixHq::NODRA::Utility::CAccessPointMapU::sfGetAccessPointMapU()->mpRemoveAccessPoint("SLASHED");
}

TEST_F(Rpc3HeaderRegistryTest, UnreadableHeaderRaisesEachTimeAndUnknownReleasesAreIgnored) {
  mpWrite("broken.rpc", mfTruncate(mfHeaderOf({{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"},
                                               {"NUM_PARAMS", "3"}}), 300));
  mpWriteMarked("good.rpc", "good");
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto failure = mfFailureOf([&] { mRegistry->mfAcquireHeader("AP", "", "broken.rpc"); });
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->mMessage, "Unable to read RPC3 header for <" + mfKey("broken.rpc").mfStd() + ">");
    EXPECT_EQ(failure->mPlace, "CRPC3Header::CRPC3Header");
    EXPECT_EQ(mRegistry->mfGetNumberOfEntries(), 0u);
  }
  EXPECT_TRUE(mfFailureOf([&] { mRegistry->mfAcquireHeader("AP", "..", "good.rpc"); }).has_value());

  CRPC3Header* good = mRegistry->mfAcquireHeader("AP", "", "good.rpc");
  mRegistry->mpReleaseHeader(nullptr);
  CRPC3Header* unregistered = reinterpret_cast<CRPC3Header*>(&faultsNever);
  mRegistry->mpReleaseHeader(unregistered);
  EXPECT_EQ(mRegistry->mfGetCount(mfKey("good.rpc")), 1);
  EXPECT_EQ(mfMark(good), "good");
  mRegistry->mpReleaseHeader(good);
  EXPECT_EQ(mRegistry->mfGetNumberOfEntries(), 0u);
}

TEST_F(Rpc3HeaderRegistryTest, ParallelAcquireAndReleaseNeverHandOutAFreedHeader) {
  const std::vector<std::string> names = {"p0.rpc", "p1.rpc", "p2.rpc"};
  for (const auto& name : names) {
    mpWriteMarked(name, "mark of " + name);
  }
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 1000; ++i) {
        const std::string& name = names[static_cast<std::size_t>(i + t) % names.size()];
        CRPC3Header* header = mRegistry->mfAcquireHeader("AP", "", CStringU(name));
        if (header == nullptr || mfMark(header) != "mark of " + name) {
          ++faults;
        }
        mRegistry->mpReleaseHeader(header);
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(mRegistry->mfGetNumberOfEntries(), 0u);
}

}  // namespace
