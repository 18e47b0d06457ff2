// The chunk reader against values objects of known behaviour: every value once and in
// order whatever the chunk, short answers, errors and empty answers where they happen, and
// two calls in flight at once.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "clients/cpp/ChunkReader.h"
#include "host/framework/CRealValuesImpl.h"
#include "tests/support/OrbHarness.h"

namespace nodra::test {
namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
namespace FW = TamblixHq::NODRA::Framework;
using TamblixHq::NODRA::Client::ChunkReader;
using TamblixHq::NODRA::Client::ChunkRow;

// Values i = 1..mTotal, each value i + mOffset. Answers at most mLongestAnswer values a
// call, raises DBAccessException for a call from mFailAt, answers nothing from mEmptyAt, and
// takes mDelay a call, counting the calls it serves at once.
struct Behaviour {
  CORBA::ULong mTotal = 0;
  float mOffset = 0;
  CORBA::ULong mLongestAnswer = UINT32_MAX;
  CORBA::ULong mFailAt = 0;   // 0: never
  CORBA::ULong mEmptyAt = 0;  // 0: never
  std::chrono::milliseconds mDelay{0};
};

class KnownValues : public virtual FW::CRealValuesImpl {
public:
  explicit KnownValues(const Behaviour& behaviour)
      : FW::CBaseImpl(nullptr, PortableServer::POA::_nil()),
        FW::CFunctionValuesImpl(nullptr, PortableServer::POA::_nil()),
        FW::CRealValuesImpl(nullptr, PortableServer::POA::_nil()),
        mBehaviour(behaviour) {}

  IDL::RealValueSeqUnion* get_value_chunk(CORBA::ULong start, CORBA::ULong count) override {
    const int now = ++mBusy;
    int seen = mMostAtOnce.load();
    while (now > seen && !mMostAtOnce.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(mBehaviour.mDelay);
    --mBusy;
    ++mCalls;
    if (mBehaviour.mFailAt != 0 && start >= mBehaviour.mFailAt) {
      throw IDL::DBAccessException("no values here", "test failure", "KnownValues");
    }
    IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
    result->float_sequence(IDL::FloatSeq());
    const bool empty = mBehaviour.mEmptyAt != 0 && start >= mBehaviour.mEmptyAt;
    if (start == 0) start = 1;
    CORBA::ULong n = empty || start > mBehaviour.mTotal ? 0 : std::min(count, mBehaviour.mTotal - start + 1);
    n = std::min(n, mBehaviour.mLongestAnswer);
    IDL::FloatSeq& values = result->float_sequence();
    values.length(n);
    for (CORBA::ULong i = 0; i < n; ++i) values[i] = static_cast<float>(start + i) + mBehaviour.mOffset;
    return result._retn();
  }

  std::atomic<int> mBusy{0}, mMostAtOnce{0}, mCalls{0};

private:
  Behaviour mBehaviour;
};

// A values object of the test ORB with `behaviour`, and its servant to look at.
struct Served {
  KnownValues* mServant = nullptr;
  IDL::RealValues_var mReference;

  explicit Served(const Behaviour& behaviour) {
    OrbHarness& orb = OrbHarness::sfGet();
    CORBA::Object_var object = orb.mOrb->resolve_initial_references("RootPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
    mServant = new KnownValues(behaviour);
    PortableServer::ObjectId_var id = poa->activate_object(mServant);
    mReference = IDL::RealValues::_narrow(CORBA::Object_var(poa->id_to_reference(id)));
    mServant->_remove_ref();  // the POA holds it
  }
};

struct Case {
  const char* name;
  std::vector<Behaviour> channels;
  CORBA::ULong start, count, chunk;
  // What the rows hold: one row of numbers per channel, read off the values; or the start of
  // the error's text.
  std::vector<std::vector<float>> values;
  const char* error;
};

std::vector<float> run(float offset, CORBA::ULong from, CORBA::ULong to) {
  std::vector<float> values;
  for (CORBA::ULong i = from; i <= to; ++i) values.push_back(static_cast<float>(i) + offset);
  return values;
}

TEST(ChunkReader, ReadsEveryValueOnceAndInOrder) {
  const Behaviour ten{10}, thousand{1000}, shortAnswers{1000, 0, 7};
  const Behaviour other{1000, 0.5f}, otherShort{1000, 0.5f, 300};
  const std::vector<Case> cases = {
      {"one row, read without threads", {ten}, 1, 10, 64, {run(0, 1, 10)}, nullptr},
      {"many rows, the last partial", {thousand}, 1, 1000, 64, {run(0, 1, 1000)}, nullptr},
      {"a window inside the channel", {thousand}, 101, 250, 16, {run(0, 101, 350)}, nullptr},
      {"rows of one value", {ten}, 3, 5, 1, {run(0, 3, 7)}, nullptr},
      {"the last value alone", {thousand}, 1000, 1, 64, {run(0, 1000, 1000)}, nullptr},
      {"answers shorter than asked", {shortAnswers}, 1, 1000, 64, {run(0, 1, 1000)}, nullptr},
      {"answers shorter than the chunk", {shortAnswers}, 5, 990, 100, {run(0, 5, 994)}, nullptr},
      {"channels side by side", {thousand, other}, 1, 1000, 64, {run(0, 1, 1000), run(0.5f, 1, 1000)}, nullptr},
      {"side by side, one answering short", {thousand, otherShort}, 1, 1000, 400,
       {run(0, 1, 1000), run(0.5f, 1, 1000)}, nullptr},
      {"an error in a later row", {Behaviour{1000, 0, UINT32_MAX, 500}}, 1, 1000, 64, {}, "no values here"},
      {"an error in the only row", {Behaviour{10, 0, UINT32_MAX, 1}}, 1, 10, 64, {}, "no values here"},
      {"no values before the end", {Behaviour{1000, 0, UINT32_MAX, 0, 641}}, 1, 1000, 64, {},
       "the server answered no values at 641"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<Served>> served;
    std::vector<IDL::RealValues_ptr> references;
    for (const Behaviour& b : c.channels) {
      served.push_back(std::make_unique<Served>(b));
      references.push_back(served.back()->mReference.in());
    }
    ChunkReader reader(references, c.start, c.count, c.chunk);
    std::vector<std::vector<float>> values(c.channels.size());
    CORBA::ULong expectedStart = c.start;
    try {
      while (const std::optional<ChunkRow> row = reader.mfNext()) {
        EXPECT_EQ(row->mStart, expectedStart);
        EXPECT_GE(row->mCount, 1u);
        EXPECT_LE(row->mCount, c.chunk);
        expectedStart += row->mCount;
        for (std::size_t p = 0; p < values.size(); ++p) {
          ASSERT_GE(row->mfLength(p), row->mCount);
          for (CORBA::ULong i = 0; i < row->mCount; ++i) values[p].push_back(static_cast<float>(row->mfValue(p, i)));
        }
      }
      EXPECT_EQ(c.error, nullptr) << "no error was raised";
      EXPECT_EQ(values, c.values);
    } catch (const IDL::DBAccessException& e) {
      ASSERT_NE(c.error, nullptr) << e.message;
      EXPECT_STREQ(e.message, c.error);
    } catch (const std::runtime_error& e) {
      ASSERT_NE(c.error, nullptr) << e.what();
      EXPECT_EQ(std::string(e.what()), c.error);
    }
  }
}

// Rows of many channels are cut to the budget; few channels keep the whole chunk.
TEST(ChunkReader, RowsOfAnyNumberOfChannelsStayWithinTheBudget) {
  const struct {
    std::size_t channels;
    CORBA::ULong chunk, values;
  } rows[] = {
      {1, 65536, 65536},    {4, 65536, 65536},       {5, 65536, 52428},  {1000, 65536, 262},
      {1000, 100, 100},     {1u << 20, 65536, 1},    {0, 64, 64},        {1, 0, 1},
      {1, UINT32_MAX, 262144},
  };
  for (const auto& row : rows) {
    const CORBA::ULong values = ChunkReader::sfRowValues(row.channels, row.chunk);
    EXPECT_EQ(values, row.values) << row.channels << " channels, chunk " << row.chunk;
    if (values > 1) {
      EXPECT_LE((ChunkReader::kInFlight + 1) * row.channels * values * sizeof(double), ChunkReader::kRowBudget);
    }
  }
  // The reader asks for rows of that many values.
  std::vector<std::unique_ptr<Served>> served;
  std::vector<IDL::RealValues_ptr> references;
  for (int i = 0; i < 1000; ++i) {
    served.push_back(std::make_unique<Served>(Behaviour{1000}));
    references.push_back(served.back()->mReference.in());
  }
  ChunkReader reader(references, 1, 1000, 65536);
  const std::optional<ChunkRow> row = reader.mfNext();
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->mCount, 262u);
  EXPECT_EQ(row->mfLength(0), 262u);
}

TEST(ChunkReader, AnEmptyRunStillAsksEachObjectOnce) {
  Served one(Behaviour{10}), failing(Behaviour{10, 0, UINT32_MAX, 1});
  {
    ChunkReader reader({one.mReference.in()}, 4, 0, 64);
    EXPECT_FALSE(reader.mfNext().has_value());
    EXPECT_FALSE(reader.mfNext().has_value());
    EXPECT_EQ(one.mServant->mCalls.load(), 1);
  }
  ChunkReader reader({one.mReference.in(), failing.mReference.in()}, 1, 0, 64);
  EXPECT_THROW(reader.mfNext(), IDL::DBAccessException);
}

TEST(ChunkReader, KeepsTwoCallsInFlightAndWaitsForThemWhenLeftEarly) {
  Served slow(Behaviour{100000, 0, UINT32_MAX, 0, 0, std::chrono::milliseconds(20)});
  {
    ChunkReader reader({slow.mReference.in()}, 1, 100000, 1000);
    for (int k = 0; k < 6; ++k) {
      const std::optional<ChunkRow> row = reader.mfNext();
      ASSERT_TRUE(row.has_value());
      EXPECT_EQ(row->mStart, 1u + 1000u * static_cast<CORBA::ULong>(k));
    }
    EXPECT_EQ(slow.mServant->mMostAtOnce.load(), static_cast<int>(ChunkReader::kInFlight));
  }  // left with calls in flight: the reader waits for them, the servant is not called after
  const int calls = slow.mServant->mCalls.load();
  EXPECT_EQ(slow.mServant->mBusy.load(), 0);
  EXPECT_LE(calls, 6 + static_cast<int>(ChunkReader::kInFlight));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(slow.mServant->mCalls.load(), calls);
}

}  // namespace
}  // namespace nodra::test
