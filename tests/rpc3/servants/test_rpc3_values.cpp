// Reading a channel's values through real references: every storage format and width,
// every chunk window across frame and group boundaries, the time base, and bad input.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <tuple>

#include "host/files/CFilePool.h"
#include "host/framework/CRealValuesImpl.h"
#include "host/framework/CReplyLimit.h"
#include "rpc3/servants/RPC3ObjectIdentity.h"
#include "tests/rpc3/servants/ServantTestSupport.h"

namespace nodra::test {
namespace {

using TamblixHq::NODRA::Framework::CFilePool;
using TamblixHq::NODRA::Framework::CReplyLimit;

// (float samples, format text, channels, P, G, frames)
using Scenario = std::tuple<bool, std::string, int, int, int, int>;

// Each scenario is read from a header that ends with a padding record and from one whose
// records fill their blocks (the reader's extra record then lies in the sample data).
class ChannelReadTest : public ServantTest,
                        public ::testing::WithParamInterface<std::tuple<Scenario, Rpc3HeaderForm>> {
protected:
  Rpc3FileLayout mfLayout() const {
    auto [isFloat, format, channels, P, G, frames] = std::get<0>(GetParam());
    Rpc3FileLayout layout;
    layout.mHeaderForm = std::get<1>(GetParam());
    layout.mFloat = isFloat;
    layout.mFormat = format;
    layout.mChannels = channels;
    layout.mPtsPerFrame = P;
    layout.mPtsPerGroup = G;
    layout.mFrames = frames;
    for (int c = 1; c <= channels; ++c) {
      Rpc3ChannelTexts texts;
      texts.mScale = c == 1 ? "0.1" : "2.5";
      layout.mChannelTexts.push_back(texts);
    }
    // Distinct per channel and index, negative and positive, beyond one byte.
    layout.mSample = [](int channel, std::int64_t index) {
      return (index % 2 ? -1.0 : 1.0) * (channel * 1000 + index * 7) + (index % 3) * 0.25;
    };
    return layout;
  }
};

TEST_P(ChannelReadTest, EveryWindowReturnsTheScaledSamples) {
  Rpc3FileLayout layout = mfLayout();
  IDL::File_var file = mfOpen("scenario.rsp", layout);
  const std::int64_t total = layout.mFrames * layout.mPtsPerFrame;
  for (int c = 1; c <= layout.mChannels; ++c) {
    double scale = c == 1 ? 0.1 : 2.5;
    IDL::RealValues_var values = mfValues(file, c, IDL::Y);
    ASSERT_FALSE(CORBA::is_nil(values));
    ASSERT_EQ(values->get_number_of_values(), total);
    EXPECT_EQ(values->get_precision(), IDL::SINGLE_PRECISION);

    // Whole channel, then every start with counts around the frame size.
    IDL::RealValueSeqUnion_var all = values->get_values();
    std::vector<float> whole = mfFloats(all.in());
    ASSERT_EQ(whole.size(), static_cast<std::size_t>(total));
    for (std::int64_t k = 1; k <= total; ++k) {
      ASSERT_EQ(whole[k - 1], expectedValue(layout, c, k, scale)) << "channel " << c << " value " << k;
    }
    // Selected values, in the order asked: runs are read together, others one by one.
    IDL::IndexSeq picks;
    const CORBA::ULong wanted[] = {CORBA::ULong(total), 1, 2, 3, CORBA::ULong(total), 2};
    picks.length(6);
    for (CORBA::ULong i = 0; i < 6; ++i) picks[i] = wanted[i];
    std::vector<float> picked = mfFloats(IDL::RealValueSeqUnion_var(values->get_specific_values(picks)).in());
    ASSERT_EQ(picked.size(), 6u);
    for (CORBA::ULong i = 0; i < 6; ++i) EXPECT_EQ(picked[i], whole[wanted[i] - 1]);
    picks[2] = CORBA::ULong(total + 1);
    EXPECT_THROW(IDL::RealValueSeqUnion_var(values->get_specific_values(picks)), IDL::DBAccessException);

    const int P = layout.mPtsPerFrame;
    for (CORBA::ULong start = 0; start <= total + 1; ++start) {
      for (CORBA::ULong count : {1u, CORBA::ULong(P - 1), CORBA::ULong(P + 1), CORBA::ULong(2 * P + 3)}) {
        IDL::RealValueSeqUnion_var chunk = values->get_value_chunk(start, count);
        std::vector<float> got = mfFloats(chunk.in());
        CORBA::ULong first = start == 0 ? 1 : start;
        std::size_t expected = first > total ? 0 : std::min<std::int64_t>(count, total - first + 1);
        ASSERT_EQ(got.size(), expected) << "start " << start << " count " << count;
        for (std::size_t i = 0; i < got.size(); ++i) {
          ASSERT_EQ(got[i], whole[first - 1 + i]) << "start " << start << " count " << count;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    FormatsWidthsAndLayouts, ChannelReadTest,
    ::testing::Combine(
        ::testing::Values(Scenario{false, "BINARY_IEEE_LITTLE_END", 3, 4, 8, 5},
                          Scenario{false, "BINARY_IEEE_BIG_END", 3, 4, 8, 5},
                          Scenario{true, "BINARY_IEEE_LITTLE_END", 2, 5, 5, 3},
                          Scenario{true, "binary_ieee_big_end", 2, 5, 15, 7},
                          Scenario{false, "BINARY", 1, 3, 6, 4},
                          Scenario{false, "ASCII", 2, 4, 4, 2},
                          // G not a multiple of P: the frames of a group are G / P (rounded down).
                          Scenario{false, "BINARY", 2, 4, 10, 5},
                          // One sample a frame: the record read after the header is 64 samples.
                          Scenario{false, "BINARY", 2, 1, 8, 300}),
        ::testing::Values(Rpc3HeaderForm::ePadded, Rpc3HeaderForm::eFilled)),
    [](const auto& info) {
      return "Scenario" + std::to_string(info.index / 2) +
             (std::get<1>(info.param) == Rpc3HeaderForm::eFilled ? "Filled" : "Padded");
    });

TEST_F(ServantTest, SampleBytesDecodeInTheFileByteOrderAndScale) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 2;
  layout.mFrames = 1;
  layout.mChannelTexts = {{"", "", "0.5", "", ""}};
  for (auto [format, first] : {std::pair<const char*, float>{"BINARY_IEEE_BIG_END", 258 * 0.5f},
                               {"BINARY", 513 * 0.5f}}) {
    layout.mFormat = format;
    std::string name = std::string(format) + ".rsp";
    auto bytes = mfBuildRpc3File(layout);
    std::size_t data = bytes.size() - 4;
    bytes[data] = 0x01, bytes[data + 1] = 0x02;  // 258 big-endian, 513 little-endian
    bytes[data + 2] = 0xFF, bytes[data + 3] = 0xFF;  // -1 either way
    mpWriteFile(mDir.mfFile(name), bytes);
    IDL::File_var file = mServer->open_file(mAccessPoint.c_str(), "", name.c_str());
    IDL::RealValues_var values = mfValues(file, 1, IDL::Y);
    std::vector<float> got = mfFloats(IDL::RealValueSeqUnion_var(values->get_value_chunk(1, 2)).in());
    EXPECT_EQ(got, (std::vector<float>{first, -0.5f})) << format;
  }
}

TEST_F(ServantTest, TimeBaseIsComputedInDoublePrecisionFromDeltaT) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 1024;
  layout.mFrames = 3;
  layout.mDeltaT = "0.0001";
  IDL::File_var file = mfOpen("time.rsp", layout);
  IDL::RealValues_var x = mfValues(file, 1, IDL::X);
  IDL::EquidistantValues_var axis = IDL::EquidistantValues::_narrow(x);
  ASSERT_FALSE(CORBA::is_nil(axis));
  EXPECT_EQ(axis->get_precision(), IDL::DOUBLE_PRECISION);
  EXPECT_EQ(axis->get_number_of_values(), 3072u);
  auto annotation = axis->get_equidistant_value_annotation();
  EXPECT_EQ(annotation.first_value, 0.0);
  EXPECT_EQ(annotation.spacing, 0.0001);
  std::vector<double> times = mfDoubles(IDL::RealValueSeqUnion_var(axis->get_value_chunk(0, 3)).in());
  EXPECT_EQ(times, (std::vector<double>{0.0, 0.0001, 0.0002}));
  times = mfDoubles(IDL::RealValueSeqUnion_var(axis->get_value_chunk(3072, 10)).in());
  EXPECT_EQ(times, (std::vector<double>{3071 * 0.0001}));
  EXPECT_TRUE(mfDoubles(IDL::RealValueSeqUnion_var(axis->get_value_chunk(3073, 1)).in()).empty());
}

TEST_F(ServantTest, LongRecordsKeepTheirSampleSpacing) {
  // Nine hours at 10 kHz: in single precision neighbouring times would be equal.
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 1000;
  layout.mFrames = 1;
  layout.mDeltaT = "0.0001";
  layout.mExtraKeywords = {{"FRAMES", "330000"}};
  IDL::File_var file = mfOpen("long.rsp", layout);
  IDL::RealValues_var x = mfValues(file, 1, IDL::X);
  ASSERT_EQ(x->get_number_of_values(), 330000000u);
  std::vector<double> t = mfDoubles(IDL::RealValueSeqUnion_var(x->get_value_chunk(324000001, 2)).in());
  ASSERT_EQ(t.size(), 2u);
  EXPECT_DOUBLE_EQ(t[0], 32400.0);
  EXPECT_NEAR(t[1] - t[0], 0.0001, 1e-9);
}

TEST_F(ServantTest, ZeroDeltaTGivesUnitSpacingAndNegativeIsKept) {
  for (auto [text, spacing] : {std::pair<const char*, double>{"0", 1.0}, {"-0.5", -0.5}}) {
    Rpc3FileLayout layout;
    layout.mDeltaT = text;
    IDL::File_var file = mfOpen(std::string("dt") + text + ".rsp", layout);
    IDL::EquidistantValues_var axis = IDL::EquidistantValues::_narrow(
        IDL::RealValues_var(mfValues(file, 1, IDL::X)));
    EXPECT_EQ(axis->get_equidistant_value_annotation().spacing, spacing) << text;
  }
}

TEST_F(ServantTest, EmptyRequestsDoNotTouchTheFileButReadsOfAVanishedFileFail) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 4;
  layout.mFrames = 2;
  IDL::File_var file = mfOpen("gone.rsp", layout);
  IDL::RealValues_var values = mfValues(file, 1, IDL::Y);
  std::filesystem::remove(mDir.mfFile("gone.rsp"));
  CFilePool::sfGetFilePool().mpCloseIdle();
  EXPECT_TRUE(mfFloats(IDL::RealValueSeqUnion_var(values->get_value_chunk(9, 5)).in()).empty());
  EXPECT_TRUE(mfFloats(IDL::RealValueSeqUnion_var(values->get_value_chunk(1, 0)).in()).empty());
  try {
    IDL::RealValueSeqUnion_var v = values->get_value_chunk(1, 1);
    FAIL() << "read of a missing file succeeded";
  } catch (const IDL::DBAccessException& e) {
    EXPECT_STREQ(e.message, "File Ptr to RPC3 File is NULL");
    EXPECT_STREQ(e.reason, "mfFilePtr() returned NULL");
    EXPECT_STREQ(e.place, "CRPC3RealValuesImpl::mpReadFrame");
  }
  ASSERT_FALSE(mLogged.empty());
  EXPECT_NE(mLogged.back().find("File Ptr to RPC3 File is NULL"), std::string::npos);
}

TEST_F(ServantTest, SamplesPastTheEndOfTheFileFailWithAReadError) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  layout.mPtsPerFrame = 4;
  layout.mFrames = 3;
  auto bytes = mfBuildRpc3File(layout);
  // Cut into the last group: channel 1 of frame 3 stays whole, channel 2 loses samples.
  mpWriteFile(mDir.mfFile("cut.rsp"), mfTruncate(bytes, bytes.size() - 3));
  IDL::File_var file = mServer->open_file(mAccessPoint.c_str(), "", "cut.rsp");
  IDL::RealValues_var first = mfValues(file, 1, IDL::Y);
  EXPECT_EQ(mfFloats(IDL::RealValueSeqUnion_var(first->get_values()).in()).size(), 12u);
  IDL::RealValues_var second = mfValues(file, 2, IDL::Y);
  EXPECT_EQ(mfFloats(IDL::RealValueSeqUnion_var(second->get_value_chunk(1, 8)).in()).size(), 8u);
  try {
    IDL::RealValueSeqUnion_var v = second->get_value_chunk(7, 6);
    FAIL() << "read past the end succeeded";
  } catch (const IDL::MemAllocException& e) {
    EXPECT_STREQ(e.message, "Error occured while reading RPC3 file");
    EXPECT_STREQ(e.reason, "fread()");
  }
}

TEST_F(ServantTest, LayoutsThatCannotAddressTheChannelAreRefusedClearly) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> keywords;
    const char* expected;
  };
  const Case cases[] = {
      {"p.rsp", {{"PTS_PER_FRAME", "-1"}}, "PTS_PER_FRAME is -1"},
      {"g.rsp", {{"PTS_PER_GROUP", "2"}}, "smaller than PTS_PER_FRAME"},
      {"c.rsp", {{"CHANNELS", "0"}}, "outside the file's channels"},
      {"z.rsp", {{"PTS_PER_FRAME", "0"}}, "PTS_PER_FRAME is 0"},
  };
  for (const Case& c : cases) {
    Rpc3FileLayout layout;
    layout.mPtsPerFrame = 4;
    layout.mExtraKeywords = c.keywords;
    IDL::File_var file = mfOpen(c.name, layout);
    // Reach channel 1 directly: with CHANNELS 0 the file lists no channel.
    IDL::ObjectId_var fileId = file->get_object_id();
    IDL::ObjectId_var channelId = TamblixHq::NODRA::Drivers::RPC3::getChannelObjectId(
        fileId.in(), 1, "");
    IDL::FunctionValues_var fv =
        TamblixHq::NODRA::Drivers::RPC3::getChannelValues(channelId.in(), IDL::Y);
    IDL::RealValues_var values = IDL::RealValues::_narrow(fv);
    // Empty windows too: a channel that cannot be read never passes for an empty one.
    for (CORBA::ULong count : {1u, 0u}) {
      try {
        IDL::RealValueSeqUnion_var v = values->get_value_chunk(1, count);
        ADD_FAILURE() << c.name << ": read of " << count << " succeeded";
      } catch (const IDL::DBAccessException& e) {
        EXPECT_NE(std::string(e.message).find(c.expected), std::string::npos) << e.message;
      }
    }
  }
}

TEST_F(ServantTest, ValueCountsBeyondThirtyTwoBitsAreRefusedNotWrapped) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 4;
  // 4 x 2^30 values: the low 32 bits of the count are 0.
  layout.mExtraKeywords = {{"FRAMES", "4"}, {"PTS_PER_FRAME", "1073741824"}, {"PTS_PER_GROUP", "1073741824"}};
  IDL::File_var file = mfOpen("wide.rsp", layout);
  IDL::RealValues_var values = mfValues(file, 1, IDL::Y);
  try {
    values->get_number_of_values();
    FAIL() << "a count beyond 32 bits was answered";
  } catch (const IDL::DBAccessException& e) {
    EXPECT_NE(std::string(e.message).find("4294967296"), std::string::npos) << e.message;
  }
  IDL::RealValues_var time = mfValues(file, 1, IDL::X);
  EXPECT_THROW(time->get_number_of_values(), IDL::DBAccessException);
  // Positions stay addressable: the time base answers beyond the 32-bit count's wrap.
  EXPECT_EQ(mfDoubles(IDL::RealValueSeqUnion_var(time->get_value_chunk(4294967295u, 1)).in()).size(), 1u);
}

TEST_F(ServantTest, AFileRewrittenWhileServedIsNeverDecodedWithTheOldHeader) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 4;
  layout.mSample = [](int, std::int64_t index) { return static_cast<double>(index); };
  IDL::File_var before = mfOpen("run.rsp", layout);
  IDL::RealValues_var oldValues = mfValues(before, 1, IDL::Y);
  EXPECT_EQ(mfFloats(IDL::RealValueSeqUnion_var(oldValues->get_value_chunk(1, 4)).in()),
            (std::vector<float>{1, 2, 3, 4}));

  // The same name now holds 4-byte floats: decoded with the old header they would read as
  // halves of floats.
  layout.mFloat = true;
  layout.mSample = [](int, std::int64_t index) { return 10.0 * static_cast<double>(index); };
  mpWriteFile(mDir.mfFile("run.rsp"), mfBuildRpc3File(layout));
  try {
    IDL::RealValueSeqUnion_var v = oldValues->get_value_chunk(1, 4);
    FAIL() << "the old object read the rewritten file";
  } catch (const IDL::DBAccessException& e) {
    EXPECT_STREQ(e.reason, "file changed while open");
  }
  // Opening it again reads the new header; the old object still refuses.
  IDL::File_var after = mServer->open_file(mAccessPoint.c_str(), "", "run.rsp");
  IDL::RealValues_var newValues = mfValues(after, 1, IDL::Y);
  EXPECT_EQ(mfFloats(IDL::RealValueSeqUnion_var(newValues->get_value_chunk(1, 4)).in()),
            (std::vector<float>{10, 20, 30, 40}));
  EXPECT_THROW(IDL::RealValueSeqUnion_var(oldValues->get_value_chunk(1, 4)), IDL::DBAccessException);
}

TEST_F(ServantTest, RequestsLargerThanOneReplyAreRefused) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 4096;
  layout.mExtraKeywords = {{"FRAMES", "100000"}};  // far more values than the file holds
  IDL::File_var file = mfOpen("huge.rsp", layout);
  IDL::RealValues_var values = mfValues(file, 1, IDL::Y);
  CORBA::ULong limit = CReplyLimit::sfMaxValuesPerReply(sizeof(float));
  ASSERT_LT(limit, values->get_number_of_values());
  EXPECT_THROW(IDL::RealValueSeqUnion_var(values->get_value_chunk(1, limit + 1)),
               IDL::DBAccessException);
  EXPECT_THROW(IDL::RealValueSeqUnion_var(values->get_values()), IDL::DBAccessException);
  // A chunk within the limit reads the samples that exist.
  EXPECT_EQ(mfFloats(IDL::RealValueSeqUnion_var(values->get_value_chunk(1, 4096)).in()).size(), 4096u);
}

TEST_F(ServantTest, OffsetsBeyondFourGiBReadTheRightSamples) {
  // A sparse file: one channel of 2-byte samples whose values past 4 GiB are written.
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 1024;
  layout.mFrames = 1;
  layout.mExtraKeywords = {{"FRAMES", "2200000"}};  // 2.25e9 values, 4.5 GB of samples
  auto header = mfBuildRpc3File(layout);
  std::string path = mDir.mfFile("big.rsp");
  mpWriteFile(path, header);
  const std::int64_t dataStart = static_cast<std::int64_t>(header.size()) - 2 * 1024;
  const std::int64_t k = 2150000001;  // value index whose byte lies past 4 GiB
  const std::int64_t offset = dataStart + (k - 1) * 2;
  ASSERT_GT(offset, std::int64_t{1} << 32);
  int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const unsigned char samples[] = {0x34, 0x12, 0xFE, 0xFF};  // 0x1234, -2
  ASSERT_EQ(::pwrite(fd, samples, sizeof samples, offset), 4);
  ASSERT_EQ(::ftruncate(fd, dataStart + 2200000LL * 1024 * 2), 0);
  ::close(fd);

  IDL::File_var file = mServer->open_file(mAccessPoint.c_str(), "", "big.rsp");
  IDL::RealValues_var values = mfValues(file, 1, IDL::Y);
  std::vector<float> got = mfFloats(IDL::RealValueSeqUnion_var(values->get_value_chunk(k, 3)).in());
  EXPECT_EQ(got, (std::vector<float>{0x1234, -2, 0}));
}


TEST_F(ServantTest, ScatteredPositionsAreReadInOrderAndAnsweredInTheOrderAsked) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  layout.mPtsPerFrame = 1000;
  layout.mPtsPerGroup = 3000;
  layout.mFrames = 200;  // 200 000 values
  layout.mSample = [](int channel, std::int64_t index) { return static_cast<double>((index * 37 + channel) % 30001) - 15000; };
  IDL::File_var file = mfOpen("scattered.rsp", layout);
  IDL::RealValues_var values = mfValues(file, 2, IDL::Y);
  // Near and far apart, repeated, descending, the first and the last.
  std::mt19937 random(11);
  std::vector<CORBA::ULong> wanted = {200000, 1, 1, 2, 199999, 100000, 100000};
  for (int i = 0; i < 20000; ++i) wanted.push_back(static_cast<CORBA::ULong>(random() % 200000) + 1);
  for (CORBA::ULong k = 150000; k > 149000; k -= 7) wanted.push_back(k);
  IDL::IndexSeq picks;
  picks.length(static_cast<CORBA::ULong>(wanted.size()));
  for (CORBA::ULong i = 0; i < picks.length(); ++i) picks[i] = wanted[i];
  const std::vector<float> got = mfFloats(IDL::RealValueSeqUnion_var(values->get_specific_values(picks)).in());
  ASSERT_EQ(got.size(), wanted.size());
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    ASSERT_EQ(got[i], expectedValue(layout, 2, wanted[i], 1.0)) << "position " << wanted[i];
  }
  // Doubles of the time base, the same way.
  IDL::RealValues_var time = mfValues(file, 2, IDL::X);
  const std::vector<double> times = mfDoubles(IDL::RealValueSeqUnion_var(time->get_specific_values(picks)).in());
  ASSERT_EQ(times.size(), wanted.size());
  EXPECT_EQ(times[0], 199999 * 0.001);

  // More positions than a call may ask for are refused before anything is read.
  picks.length(TamblixHq::NODRA::Framework::CRealValuesImpl::kMaxSpecificValues + 1);
  for (CORBA::ULong i = 0; i < picks.length(); ++i) picks[i] = 1;
  EXPECT_THROW(IDL::RealValueSeqUnion_var(values->get_specific_values(picks)), IDL::DBAccessException);
}

}  // namespace
}  // namespace nodra::test
