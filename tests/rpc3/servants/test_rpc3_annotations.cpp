// What the file and channel objects tell about themselves: the file annotations of the
// header, the six channel annotations and how limits are read.

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "rpc3/servants/CRPC3ChannelImpl.h"
#include "tests/rpc3/servants/ServantTestSupport.h"

namespace nodra::test {
namespace {

using TamblixHq::NODRA::Drivers::RPC3::getChannelLimit;
using TamblixHq::NODRA::Utility::CStringU;

// The annotation named `name`, as annotationText gives it; "" when there is none.
std::string findText(const IDL::AnnotationSeq& annotations, const std::string& name) {
  for (CORBA::ULong i = 0; i < annotations.length(); ++i) {
    if (name == annotations[i].definition.name.in()) return annotationText(annotations[i]);
  }
  return "";
}

TEST_F(ServantTest, FileAnnotationsFollowTheHeaderInFixedOrderAndAreAddedOnce) {
  Rpc3FileLayout layout;
  layout.mHeaderBlocks = 8;
  layout.mDeltaT = "0.0025";
  layout.mDate = "012-mar-2009 10:20:30";
  layout.mExtraKeywords = {{"PARENT_1", "first.rsp"}, {"PARENT_2", "second.rsp"}};
  IDL::File_var file = mfOpen("annotated.rsp", layout);
  const std::vector<std::string> expected = {
      "storage_format//RPC3File=s:BINARY_IEEE_LITTLE_END",
      "created_by//RPC3File=s:TEST_WRITER",
      "file_type//RPC3File=s:TIME_HISTORY",
      "time_type//RPC3File=s:RESPONSE",
      "bypass_filter//RPC3File=b:0",
      "number_of_channels//RPC3File=h:1",
      "date//RPC3File=s:012-mar-2009 10:20:30",
      "delta_t//RPC3File=d:0.0025000000000000001",
      "half_frames//RPC3File=b:0",
      "PARENT_1//RPC3File=s:first.rsp",
      "PARENT_2//RPC3File=s:second.rsp",
      "frames//RPC3File=h:1",
      "num_header_blocks//RPC3File=h:8",
      "num_params//RPC3File=h:24",  // 16 standard records, 6 of the channel, 2 parents
      "pts_per_frame//RPC3File=l:16",
      "pts_per_group//RPC3File=l:16",
      "repeats//RPC3File=h:1",
  };
  for (int ask = 0; ask < 3; ++ask) {
    EXPECT_EQ(annotationTexts(IDL::AnnotationSeq_var(file->get_all_annotations()).in()), expected)
        << "asked " << ask + 1 << " times";
  }
  EXPECT_EQ(file->get_number_of_all_annotations(), 17u);
  EXPECT_EQ(file->get_number_of_annotations("PARENT_2"), 1u);
}

TEST_F(ServantTest, FileAnnotationsOfAHeaderWithoutKeywordsAreEmptyOrZero) {
  // Three records, none of them a known keyword; the third's value names the last one read.
  Rpc3HeaderWriter header;
  header.mfAdd("SOMETHING", "a").mfAdd("ELSE", "b").mfAdd("ENTIRELY", "2");
  mpWriteFile(mDir.mfFile("bare.rsp"), header.mfGetBytes());
  IDL::File_var file = mfResolveFile("bare.rsp");
  ASSERT_FALSE(CORBA::is_nil(file));
  const std::vector<std::string> expected = {
      "storage_format//RPC3File=s:", "created_by//RPC3File=s:",  "file_type//RPC3File=s:",
      "time_type//RPC3File=s:",      "bypass_filter//RPC3File=b:0",
      "number_of_channels//RPC3File=h:0", "date//RPC3File=s:",   "delta_t//RPC3File=d:0",
      "half_frames//RPC3File=b:0",   "frames//RPC3File=h:0",     "num_header_blocks//RPC3File=h:0",
      "num_params//RPC3File=h:0",    "pts_per_frame//RPC3File=l:0",
      "pts_per_group//RPC3File=l:0", "repeats//RPC3File=h:0",
  };
  EXPECT_EQ(annotationTexts(IDL::AnnotationSeq_var(file->get_all_annotations()).in()), expected);
}

TEST_F(ServantTest, FileAnnotationsStopAtTheFirstMissingParent) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> parents;
    std::vector<std::string> kept;
  };
  std::vector<std::pair<std::string, std::string>> many;
  for (int n = 1; n <= 120; ++n) many.emplace_back("PARENT_" + std::to_string(n), "p" + std::to_string(n));
  std::vector<std::string> first109;
  for (int n = 1; n <= 109; ++n) first109.push_back("PARENT_" + std::to_string(n) + "//RPC3File=s:p" + std::to_string(n));
  const Case cases[] = {
      {"gap", {{"PARENT_1", "p1"}, {"PARENT_3", "p3"}}, {"PARENT_1//RPC3File=s:p1"}},
      {"no-first", {{"PARENT_2", "p2"}}, {}},
      {"empty-first", {{"PARENT_1", ""}, {"PARENT_2", "p2"}}, {}},
      {"many", many, first109},
  };
  for (const Case& c : cases) {
    Rpc3FileLayout layout;
    layout.mExtraKeywords = c.parents;
    IDL::File_var file = mfOpen(std::string(c.name) + ".rsp", layout);
    std::vector<std::string> texts = annotationTexts(IDL::AnnotationSeq_var(file->get_all_annotations()).in());
    ASSERT_EQ(texts.size(), 15 + c.kept.size()) << c.name;
    // Parents stand after half_frames and before frames.
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 9, texts.end() - 6), c.kept) << c.name;
    EXPECT_EQ(texts[8].substr(0, 11), "half_frames") << c.name;
    EXPECT_EQ(texts[texts.size() - 6].substr(0, 6), "frames") << c.name;
  }
}

TEST_F(ServantTest, FileNumbersKeepTheirLowSixteenBitsOrAllThirtyTwo) {
  struct Case {
    const char* keyword;
    const char* text;
    const char* annotation;
    const char* expected;
  };
  const Case cases[] = {
      {"FRAMES", "70000", "frames", "frames//RPC3File=h:4464"},
      {"REPEATS", "65535", "repeats", "repeats//RPC3File=h:-1"},
      {"CHANNELS", "65537", "number_of_channels", "number_of_channels//RPC3File=h:1"},
      {"PTS_PER_FRAME", "70000", "pts_per_frame", "pts_per_frame//RPC3File=l:70000"},
      {"PTS_PER_GROUP", "-5", "pts_per_group", "pts_per_group//RPC3File=l:-5"},
      {"BYPASS_FILTER", "0", "bypass_filter", "bypass_filter//RPC3File=b:0"},
      {"BYPASS_FILTER", "1", "bypass_filter", "bypass_filter//RPC3File=b:1"},
      {"BYPASS_FILTER", "2", "bypass_filter", "bypass_filter//RPC3File=b:1"},
      {"HALF_FRAMES", "1", "half_frames", "half_frames//RPC3File=b:1"},
      {"DELTA_T", "1.5E-03", "delta_t", "delta_t//RPC3File=d:0.0015"},
  };
  int n = 0;
  for (const Case& c : cases) {
    Rpc3FileLayout layout;
    layout.mExtraKeywords = {{c.keyword, c.text}};
    IDL::File_var file = mfOpen("number" + std::to_string(++n) + ".rsp", layout);
    EXPECT_EQ(findText(IDL::AnnotationSeq_var(file->get_all_annotations()).in(), c.annotation),
              c.expected)
        << c.keyword << " " << c.text;
  }
}

TEST_F(ServantTest, ChannelAnnotationsAreSixInFixedOrderAndAddedOnce) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  layout.mChannelTexts = {{"Front left: wheel force", "kN", "0.25", "-1.00000000E+03", "2.5E+02"},
                          {"", "", "", "-13.8", "1e12"}};
  layout.mExtraKeywords = {{"MAP.CHAN_2", "7"}};
  IDL::File_var file = mfOpen("channels.rsp", layout);
  IDL::BrowsableStructSeq_var children = file->get_all_children();
  ASSERT_EQ(children->length(), 2u);
  const std::vector<std::vector<std::string>> expected = {
      {"description//RPC3Channel=s:Front left: wheel force", "lower_limit//RPC3Channel=l:-1000",
       "upper_limit//RPC3Channel=l:250", "map//RPC3Channel=l:1", "units//RPC3Channel=s:kN",
       "scale//RPC3Channel=d:0.25"},
      {"description//RPC3Channel=s:Channel 2", "lower_limit//RPC3Channel=l:-13",
       "upper_limit//RPC3Channel=l:2147483647", "map//RPC3Channel=l:7",
       "units//RPC3Channel=s:V", "scale//RPC3Channel=d:1"},
  };
  for (CORBA::ULong c = 0; c < 2; ++c) {
    for (int ask = 0; ask < 2; ++ask) {
      EXPECT_EQ(annotationTexts(IDL::AnnotationSeq_var(children[c].reference->get_all_annotations()).in()),
                expected[c])
          << "channel " << c + 1 << ", asked " << ask + 1 << " times";
    }
  }
}

TEST_F(ServantTest, ChannelWithoutDescriptionOrUnitsHasEmptyTexts) {
  Rpc3FileLayout layout;
  layout.mOmitKeywords = {"DESC.CHAN_1", "UNITS.CHAN_1", "MAP.CHAN_1"};
  IDL::File_var file = mfOpen("bare-channel.rsp", layout);
  IDL::BrowsableStructSeq_var children = file->get_all_children();
  ASSERT_EQ(children->length(), 1u);
  EXPECT_STREQ(children[0].label, "");
  IDL::AnnotationSeq_var annotations = children[0].reference->get_all_annotations();
  EXPECT_EQ(findText(annotations.in(), "description"), "description//RPC3Channel=s:");
  EXPECT_EQ(findText(annotations.in(), "units"), "units//RPC3Channel=s:");
  EXPECT_EQ(findText(annotations.in(), "map"), "map//RPC3Channel=l:0");
}

TEST(ChannelLimit, IsTheNumberTruncatedTowardZeroAndSaturated) {
  constexpr CORBA::Long kMax = std::numeric_limits<CORBA::Long>::max();
  constexpr CORBA::Long kMin = std::numeric_limits<CORBA::Long>::min();
  const std::pair<const char*, CORBA::Long> cases[] = {
      {"-1.00000000E+03", -1000}, {"-13.8", -13},    {"13.8", 13},     {"250", 250},
      {" 2.5E+02", 250},          {"-0.9", 0},       {"1e12", kMax},   {"-1e12", kMin},
      {"2147483647.9", kMax},     {"-2147483648.9", kMin},             {"inf", kMax},
      {"nan", 0},                 {"", 0},           {"volts", 0},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(getChannelLimit(CStringU(text)), expected) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace nodra::test
