// Replies of more than 1 MiB take a slot of the large-reply pool: with every slot held they
// are refused with the pool's own message (not a listing failure), and small replies of the
// same calls are answered meanwhile.

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "host/framework/CCallSlots.h"
#include "tests/rpc3/servants/ServantTestSupport.h"

namespace nodra::test {
namespace {

using TamblixHq::NODRA::Framework::CCallSlots;
using namespace std::chrono_literals;

TEST_F(ServantTest, LargeRepliesWaitForASlotAndAreRefusedWhenNoneFrees) {
  Rpc3FileLayout wide;  // its children: 5000 x 256 bytes at least
  wide.mChannels = 5000;
  Rpc3FileLayout longHeader;  // its listing: 9000 x 168 bytes at most
  for (int i = 0; i < 9000; ++i) longHeader.mExtraKeywords.emplace_back("NOTE_" + std::to_string(i), "x");
  Rpc3FileLayout longChannel;
  longChannel.mPtsPerFrame = 1024;
  longChannel.mFrames = 300;
  IDL::File_var wideFile = mfOpen("wide.rsp", wide);
  IDL::File_var headerFile = mfOpen("header.rsp", longHeader);
  IDL::File_var small = mfOpen("small.rsp", Rpc3FileLayout());
  IDL::RealValues_var values = mfValues(IDL::File_var(mfOpen("long.rsp", longChannel)), 1, IDL::Y);
  const struct {
    const char* name;
    std::function<void()> call;
  } large[] = {
      {"children", [&] { IDL::BrowsableStructSeq_var c = wideFile->get_all_children(); }},
      {"header listing", [&] { IDL::HeaderReading_var r = headerFile->get_header_reading(); }},
      {"value chunk", [&] { IDL::RealValueSeqUnion_var v = values->get_value_chunk(1, 300000); }},
  };
  for (const auto& c : large) EXPECT_NO_THROW(c.call()) << c.name;

  CCallSlots& pool = CCallSlots::sfLargeReplies();
  pool.mpConfigure(1, 50ms);
  std::promise<void> held, done;
  std::thread holder([&] {
    CCallSlots::Slot slot(pool, "holder");
    held.set_value();
    done.get_future().wait();
  });
  held.get_future().wait();
  for (const auto& c : large) {
    try {
      c.call();
      ADD_FAILURE() << c.name << " was built without a slot";
    } catch (const IDL::DBAccessException& e) {
      EXPECT_STREQ(e.message, "the server is busy with large replies; try again") << c.name;
    }
  }
  EXPECT_NO_THROW(IDL::HeaderReading_var r = small->get_header_reading());
  EXPECT_NO_THROW(IDL::RealValueSeqUnion_var v = values->get_value_chunk(1, 1000));
  done.set_value();
  holder.join();
  pool.mpConfigure(4, 5s);
}

}  // namespace
}  // namespace nodra::test
