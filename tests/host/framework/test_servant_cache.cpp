// The servant cache: one build per key, least recently used eviction sparing the newest
// and pinned servants, and evicted servants released outside the cache's lock.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/framework/CBaseImpl.h"
#include "host/framework/CServantCache.h"

namespace {

using TamblixHq::NODRA::Framework::CBaseImpl;
using TamblixHq::NODRA::Framework::CServantCache;
using Names = std::vector<std::string>;
using namespace std::chrono_literals;

// A data object servant that notes its name when destroyed.
class CNamedServant : public CBaseImpl {
public:
  CNamedServant(std::string name, Names& destroyed, std::function<void()> onDestroy = {})
      : CBaseImpl(nullptr, PortableServer::POA::_nil()), mName(std::move(name)),
        mDestroyed(destroyed), mOnDestroy(std::move(onDestroy)) {}
  ~CNamedServant() override {
    mDestroyed.push_back(mName);
    if (mOnDestroy) mOnDestroy();
  }

private:
  std::string mName;
  Names& mDestroyed;
  std::function<void()> mOnDestroy;
};

class ServantCacheTest : public ::testing::Test {
protected:
  // Acquires `key` and lets the reference go, building a servant (pinned if asked).
  void mpTouch(const std::string& key, bool pinned = false) {
    mCache.mfAcquire(key, [&] {
      auto* servant = new CNamedServant(key, mDestroyed);
      servant->set_evictable(!pinned);
      return servant;
    })->_remove_ref();
  }

  Names mDestroyed;  // declared first: the cache's servants report here until the end
  CServantCache mCache{2};
};

TEST_F(ServantCacheTest, EvictsTheLeastRecentlyUsedButNeverTheOneBeingHandedOut) {
  mpTouch("a");
  mpTouch("b");
  mpTouch("a");  // cached: no second build
  mpTouch("c");
  EXPECT_EQ(mDestroyed, Names{"b"});
  EXPECT_EQ(mCache.mfGetNumberOfIncarnations(), 3u);
  mCache.mpSetMaxServants(0);
  EXPECT_EQ(mDestroyed, (Names{"b", "a", "c"}));
  mpTouch("d");  // spared while handed out, evicted by the next
  EXPECT_EQ(mCache.mfGetNumberOfServants(), 1u);
  mpTouch("e");
  EXPECT_EQ(mDestroyed.back(), "d");
  // A key without a servant is not cached and is asked again.
  int builds = 0;
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(mCache.mfAcquire("none", [&] { ++builds; return nullptr; }), nullptr);
  EXPECT_EQ(builds, 2);
}

TEST_F(ServantCacheTest, PinnedServantsGoLastAndOnlyOnceTheCacheHoldsTwiceTheBound) {
  mpTouch("pinned", true);
  mpTouch("b");
  mpTouch("c");
  EXPECT_EQ(mDestroyed, Names{"b"});
  mCache.mpClear();
  mDestroyed.clear();
  for (const char* key : {"p1", "p2", "p3", "p4"}) mpTouch(key, true);
  EXPECT_TRUE(mDestroyed.empty());
  mpTouch("p5", true);  // beyond twice the bound: down to the bound, oldest first
  EXPECT_EQ(mDestroyed, (Names{"p1", "p2", "p3"}));
  mCache.mpSetMaxServants(1);  // two pinned servants are within twice one
  EXPECT_EQ(mCache.mfGetNumberOfServants(), 2u);
}

TEST_F(ServantCacheTest, LongKeysCountAgainstTheBoundOfBytes) {
  // Room for three servants of one-letter keys, whatever the count bound.
  const std::size_t each = CServantCache::kServantBytes + 3;
  mCache.mpSetMaxServants(100);
  mCache.mpSetMaxBytes(3 * each);
  for (const char* key : {"a", "b", "c"}) mpTouch(key);
  EXPECT_TRUE(mDestroyed.empty());
  EXPECT_EQ(mCache.mfGetBytes(), 3 * each);
  mpTouch("d");
  EXPECT_EQ(mDestroyed, Names{"a"});
  // A key of a few KiB takes the room of several servants: the oldest go until it fits.
  mpTouch(std::string(2 * each, 'k'));
  EXPECT_EQ(mDestroyed, (Names{"a", "b", "c", "d"}));
  EXPECT_EQ(mCache.mfGetNumberOfServants(), 1u);  // the newest stays, over the bound alone
  mCache.mpClear();
  EXPECT_EQ(mCache.mfGetBytes(), 0u);
}

TEST_F(ServantCacheTest, EvictingTheOldestOnRequestSparesPinnedServants) {
  mCache.mpSetMaxServants(100);
  mpTouch("pinned", true);
  for (const char* key : {"a", "b", "c"}) mpTouch(key);
  EXPECT_EQ(mCache.mfEvictOldest(2), 2u);
  EXPECT_EQ(mDestroyed, (Names{"a", "b"}));
  EXPECT_EQ(mCache.mfEvictOldest(5), 1u);
  EXPECT_EQ(mDestroyed, (Names{"a", "b", "c"}));
  EXPECT_EQ(mCache.mfGetNumberOfServants(), 1u);
}

TEST_F(ServantCacheTest, EvictedServantsAreDestroyedOutsideTheCachesLock) {
  // Each destructor asks the cache something from another thread; with the lock held
  // meanwhile, the answer could not come before the destructor ends.
  std::vector<std::future<std::size_t>> questions;
  std::vector<bool> answered;
  auto touch = [&](const std::string& key) {
    mCache.mfAcquire(key, [&] {
      return new CNamedServant(key, mDestroyed, [&] {
        questions.push_back(
            std::async(std::launch::async, [&] { return mCache.mfGetNumberOfServants(); }));
        answered.push_back(questions.back().wait_for(5s) == std::future_status::ready);
      });
    })->_remove_ref();
  };
  for (const char* key : {"a", "b", "c"}) touch(key);  // c's acquisition evicts a
  mCache.mpSetMaxServants(1);                            // evicts b
  touch("d");                                            // evicts c
  mCache.mpClear();                                      // drops d
  for (auto& question : questions) question.wait();
  EXPECT_EQ(mDestroyed, (Names{"a", "b", "c", "d"}));
  EXPECT_EQ(answered, std::vector<bool>(4, true));
}

TEST_F(ServantCacheTest, RequestsForAKeyBeingBuiltWaitAndBuildOnlyIfThatBuildFails) {
  for (bool fails : {false, true}) {
    const std::string key = fails ? "failing" : "built";
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::atomic<int> builds{0};
    auto build = [&]() -> PortableServer::ServantBase* {
      if (++builds == 1) {
        gate.wait();
        if (fails) throw std::runtime_error("file unreadable");
      }
      return new CNamedServant(key, mDestroyed);
    };
    std::vector<PortableServer::ServantBase*> got(4, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < got.size(); ++t) {
      threads.emplace_back([&, t] {
        try {
          got[t] = mCache.mfAcquire(key, build);
        } catch (const std::runtime_error&) {
        }
      });
      while (builds.load() == 0) std::this_thread::sleep_for(1ms);  // the first is building
    }
    std::this_thread::sleep_for(50ms);  // the others arrive while the first builds
    open.set_value();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(builds.load(), fails ? 2 : 1) << key;
    int handedOut = 0;
    for (PortableServer::ServantBase* servant : got) {
      if (!servant) continue;
      ++handedOut;
      EXPECT_EQ(servant, fails ? got[1] : got[0]);
      servant->_remove_ref();
    }
    EXPECT_EQ(handedOut, fails ? 3 : 4) << key;
  }
  EXPECT_EQ(mCache.mfGetNumberOfIncarnations(), 2u);
}

// A request's thread uses a servant and lets its reference go; the cache drops the last
// one on another thread, ordered after that use by the reference count alone (the flag
// is relaxed and orders nothing). Under ThreadSanitizer this fails unless the count is
// one the sanitizer sees.
TEST_F(ServantCacheTest, AServantLastReleasedOnAnotherThreadIsDestroyedOnceAfterItsUse) {
  std::atomic<bool> released{false};
  std::thread request([&] {
    PortableServer::ServantBase* servant =
        mCache.mfAcquire("a", [&] { return new CNamedServant("a", mDestroyed); });
    EXPECT_TRUE(dynamic_cast<CBaseImpl&>(*servant).get_evictable());
    servant->_remove_ref();
    released.store(true, std::memory_order_relaxed);
  });
  while (!released.load(std::memory_order_relaxed)) std::this_thread::yield();
  EXPECT_TRUE(mDestroyed.empty());
  mCache.mpClear();
  EXPECT_EQ(mDestroyed, Names{"a"});
  request.join();
}

}  // namespace
