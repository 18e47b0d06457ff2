#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host/utility/CAccessPointMapU.h"

using namespace TamblixHq::NODRA::Utility;

namespace {

class AccessPointMap : public ::testing::Test {
protected:
  void SetUp() override { mMap->mpClear(); }
  void TearDown() override { mMap->mpClear(); }
  CAccessPointMapU* const mMap = CAccessPointMapU::sfGetAccessPointMapU();
};

}  // namespace

TEST_F(AccessPointMap, SetsReplacesRemovesAndListsSortedByName) {
  EXPECT_EQ(CAccessPointMapU::sfGetAccessPointMapU(), mMap);
  mMap->mpSetAccessPoint("zeta", "/data/z");
  mMap->mpSetAccessPoint("Alpha", "/data/a");
  mMap->mpSetAccessPoint("alpha", "/data/lower");
  EXPECT_STREQ(mMap->mfGetAccessPointValue("Alpha").mfGetString(), "/data/a");
  EXPECT_STREQ(mMap->mfGetAccessPointValue("alpha").mfGetString(), "/data/lower");  // case-sensitive
  EXPECT_TRUE(mMap->mfGetAccessPointValue("ALPHA").mfIsEmpty());
  EXPECT_TRUE(mMap->mfGetAccessPointValue("").mfIsEmpty());

  mMap->mpSetAccessPoint("zeta", "/data/z2");
  EXPECT_STREQ(mMap->mfGetAccessPointValue("zeta").mfGetString(), "/data/z2");

  const auto all = mMap->mfGetAccessPoints();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_STREQ(all[0].first.mfGetString(), "Alpha");
  EXPECT_STREQ(all[1].first.mfGetString(), "alpha");
  EXPECT_STREQ(all[2].first.mfGetString(), "zeta");
  EXPECT_STREQ(all[2].second.mfGetString(), "/data/z2");

  mMap->mpRemoveAccessPoint("alpha");
  mMap->mpRemoveAccessPoint("unknown");
  EXPECT_EQ(mMap->mfGetAccessPoints().size(), 2u);
  EXPECT_TRUE(mMap->mfGetAccessPointValue("alpha").mfIsEmpty());
  mMap->mpClear();
  EXPECT_TRUE(mMap->mfGetAccessPoints().empty());

  // Readers and writers at once.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([this, t] {
      const CStringU name(("ap" + std::to_string(t)).c_str());
      for (int i = 0; i < 500; ++i) {
        mMap->mpSetAccessPoint(name, "/dir");
        EXPECT_STREQ(mMap->mfGetAccessPointValue(name).mfGetString(), "/dir");
        mMap->mfGetAccessPoints();
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mMap->mfGetAccessPoints().size(), 4u);
}
