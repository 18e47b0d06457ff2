// The bounded pools of calls (wait, then refuse; one slot per thread and pool) and the stop
// flag that ends a long rainflow count at its next chunk.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "host/framework/CCallSlots.h"
#include "host/framework/CFunction2DImpl.h"
#include "host/framework/CRealValuesImpl.h"
#include "tests/support/OrbHarness.h"

namespace nodra::test {
namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
namespace FW = TamblixHq::NODRA::Framework;
using FW::CCallSlots;
using namespace std::chrono_literals;

TEST(CallSlots, ACallBeyondTheSlotsWaitsThenIsRefusedWithTheBusyText) {
  CCallSlots pool(2, 100ms, "busy; try again");
  {
    std::promise<void> held, done;
    std::thread other([&] {
      CCallSlots::Slot slot(pool, "other");
      held.set_value();
      done.get_future().wait();
    });
    held.get_future().wait();
    {
      CCallSlots::Slot mine(pool, "mine");
      EXPECT_EQ(pool.mfTaken(), 2u);
      // Taken once per thread: a call inside a call holding a slot uses that one.
      CCallSlots::Slot inner(pool, "inner");
      EXPECT_EQ(pool.mfTaken(), 2u);
      // A call that needs none takes none.
      CCallSlots::Slot small(pool, "small", false);
      std::thread third([&] {
        const auto start = std::chrono::steady_clock::now();
        try {
          CCallSlots::Slot refused(pool, "third");
          ADD_FAILURE() << "a third slot was given";
        } catch (const IDL::DBAccessException& e) {
          EXPECT_STREQ(e.message, "busy; try again");
          EXPECT_STREQ(e.place, "third");
          EXPECT_TRUE(CCallSlots::sfIsBusy(e));
        }
        EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
      });
      third.join();
    }
    // A slot freed while another waits goes to it.
    pool.mpConfigure(2, 5s);
    std::thread waiter([&] { CCallSlots::Slot slot(pool, "waiter"); });
    std::this_thread::sleep_for(50ms);
    done.set_value();
    other.join();
    waiter.join();
  }
  EXPECT_EQ(pool.mfTaken(), 0u);
  EXPECT_EQ(pool.mfReleases(), 3u);
}

// Y values of `total` values, each call taking `delay`.
class SlowValues : public virtual FW::CRealValuesImpl {
public:
  SlowValues(CORBA::ULong total, std::chrono::milliseconds delay)
      : FW::CBaseImpl(nullptr, PortableServer::POA::_nil()),
        FW::CFunctionValuesImpl(nullptr, PortableServer::POA::_nil()),
        FW::CRealValuesImpl(nullptr, PortableServer::POA::_nil()),
        mTotal(total),
        mDelay(delay) {}
  CORBA::ULong get_number_of_values() override { return mTotal; }
  IDL::RealValueSeqUnion* get_value_chunk(CORBA::ULong start, CORBA::ULong count) override {
    std::this_thread::sleep_for(mDelay);
    ++mCalls;
    IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
    result->float_sequence(IDL::FloatSeq());
    const CORBA::ULong n = start > mTotal ? 0 : std::min(count, mTotal - start + 1);
    result->float_sequence().length(n);
    for (CORBA::ULong i = 0; i < n; ++i) result->float_sequence()[i] = static_cast<float>((start + i) % 7);
    return result._retn();
  }
  std::atomic<int> mCalls{0};

private:
  const CORBA::ULong mTotal;
  const std::chrono::milliseconds mDelay;
};

class SlowFunction : public virtual FW::CFunction2DImpl {
public:
  explicit SlowFunction(IDL::RealValues_ptr y)
      : FW::CBaseImpl(nullptr, PortableServer::POA::_nil()),
        FW::CBrowsableImpl(nullptr, PortableServer::POA::_nil()),
        FW::CFunction2DImpl(nullptr, PortableServer::POA::_nil()),
        mY(IDL::RealValues::_duplicate(y)) {}
  IDL::FunctionValues_ptr get_values_by_index(CORBA::UShort, IDL::AxisEnum axis) override {
    return axis == IDL::Y ? IDL::FunctionValues::_duplicate(mY.in()) : IDL::FunctionValues::_nil();
  }

private:
  IDL::RealValues_var mY;
};

TEST(CallSlots, SettingTheStopFlagEndsACountInFlightAtItsNextChunk) {
  OrbHarness& orb = OrbHarness::sfGet();
  PortableServer::POA_var poa =
      PortableServer::POA::_narrow(CORBA::Object_var(orb.mOrb->resolve_initial_references("RootPOA")));
  // 200 chunks of 20 ms: four seconds a pass, two passes without a class range.
  auto* values = new SlowValues(200 * FW::CFunction2DImpl::kReadChunk, 20ms);
  PortableServer::ObjectId_var id = poa->activate_object(values);
  values->_remove_ref();
  IDL::RealValues_var reference = IDL::RealValues::_narrow(CORBA::Object_var(poa->id_to_reference(id)));
  SlowFunction function(reference.in());

  auto count = std::async(std::launch::async, [&]() -> std::string {
    try {
      IDL::RainflowResult_var result = function.count_rainflow(IDL::RainflowRequest());
      return "counted";
    } catch (const IDL::DBAccessException& e) {
      return e.message.in();
    }
  });
  while (values->mCalls.load() < 3) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(CCallSlots::sfCounts().mfTaken(), 1u);
  const auto stop = std::chrono::steady_clock::now();
  CCallSlots::sfSetStopping(true);
  ASSERT_EQ(count.wait_for(2s), std::future_status::ready) << "the count went on after the stop";
  EXPECT_LT(std::chrono::steady_clock::now() - stop, 500ms);
  EXPECT_EQ(count.get(), "the server is stopping");
  EXPECT_LT(values->mCalls.load(), 10);
  EXPECT_EQ(CCallSlots::sfCounts().mfTaken(), 0u);
  // Counts asked for once stopping are refused before any value is read.
  const int calls = values->mCalls.load();
  EXPECT_THROW(function.count_rainflow(IDL::RainflowRequest()), IDL::DBAccessException);
  EXPECT_EQ(values->mCalls.load(), calls);
  CCallSlots::sfSetStopping(false);
  poa->deactivate_object(id);
}

}  // namespace
}  // namespace nodra::test
