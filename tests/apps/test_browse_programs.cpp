// nodra-browse as scripts use it, end to end: the JSON document, the CSV dump and the exit
// status, for files of every storage format and sample width, embedded and through a
// server process on loopback.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/framework/CUnitCatalogue.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace nodra::test {
namespace {

using Json = nlohmann::json;

struct Format {
  const char* mName;
  const char* mStorage;
  bool mFloat;
};

const Format kFormats[] = {{"ShortLittle", "BINARY_IEEE_LITTLE_END", false},
                           {"ShortBig", "BINARY_IEEE_BIG_END", false},
                           {"FloatLittle", "BINARY_IEEE_LITTLE_END", true},
                           {"FloatBig", "BINARY_IEEE_BIG_END", true}};

// Three channels of 3 frames of 8 values, 2 frames per group; every stored sample and
// every scaled value is exact in binary, so the dump must give them exactly.
Rpc3FileLayout exampleLayout(const Format& format) {
  Rpc3FileLayout layout;
  layout.mChannels = 3;
  layout.mPtsPerFrame = 8;
  layout.mPtsPerGroup = 16;
  layout.mFrames = 3;
  layout.mFloat = format.mFloat;
  layout.mFormat = format.mStorage;
  layout.mDeltaT = "0.0025";
  layout.mDate = "015-Jun-2024 08:30:00";
  layout.mChannelTexts = {{"Hub:force:+Z", "N", "0.5", "-2000", "2000"},
                          {"Damper:travel:-X", "mm", "0.25", "-50", "50"},
                          {"Body, rear:acceleration", "g", "1", "-3", "3"}};
  layout.mExtraKeywords = {{"PARENT_1", "drive.rsp"}};
  layout.mSample = [](int channel, std::int64_t index) {
    return channel * 100 - static_cast<double>(index) * (channel == 2 ? 3 : 1);
  };
  return layout;
}

// The shortest text of a float, as the dump writes it.
std::string mfShortText(float value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

float scaled(const Rpc3FileLayout& layout, int channel, std::int64_t index) {
  const double scales[] = {0.5, 0.25, 1};
  return static_cast<float>(layout.mSample(channel, index) * scales[channel - 1]);
}

class BrowseProgram : public ::testing::Test {
protected:
  void SetUp() override { ::setenv("TZ", "UTC", 1); }  // header dates are read as local time

  ProgramResult mfBrowse(std::vector<std::string> args) {
    args.insert(args.begin(), NODRA_BROWSE_PATH);
    return mfRunProgram(args);
  }
  Json mfJson(std::vector<std::string> args) {
    ProgramResult run = mfBrowse(args);
    EXPECT_EQ(run.mStatus, 0) << run.mErr;
    return Json::parse(run.mOut);  // throws, failing the test, on invalid JSON
  }

  ScratchDir mDir;
};

// The annotation list as "name:type:value" texts.
std::vector<std::string> annotationTexts(const Json& annotations) {
  std::vector<std::string> texts;
  for (const Json& a : annotations) {
    texts.push_back(a.at("name").get<std::string>() + ":" + a.at("type").get<std::string>() + ":" +
                    a.at("value").dump());
  }
  return texts;
}

TEST_F(BrowseProgram, JsonDescribesEveryFieldForEveryStorageFormatAndWidth) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.mName);
    const Rpc3FileLayout layout = exampleLayout(format);
    const std::string path = mDir.mfWriteFile(std::string(format.mName) + ".rsp", mfBuildRpc3File(layout));
    const Json doc = mfJson({"--json", path});
    ASSERT_EQ(doc.size(), 2u);

    const std::vector<std::string> file = annotationTexts(doc.at("file").at("annotations"));
    const std::vector<std::string> expectedFile = {
        std::string("storage_format:string:\"") + format.mStorage + "\"",
        "created_by:string:\"TEST_WRITER\"", "file_type:string:\"TIME_HISTORY\"",
        "time_type:string:\"RESPONSE\"", "bypass_filter:boolean:false",
        "number_of_channels:short:3", "date:string:\"015-Jun-2024 08:30:00\"",
        "delta_t:double:0.0025", "half_frames:boolean:false", "PARENT_1:string:\"drive.rsp\"",
        "frames:short:3"};
    ASSERT_EQ(file.size(), 16u) << doc.at("file").dump();
    for (std::size_t i = 0; i < expectedFile.size(); ++i) EXPECT_EQ(file[i], expectedFile[i]);
    EXPECT_EQ(file[11].rfind("num_header_blocks:short:", 0), 0u) << file[11];
    EXPECT_EQ(file[12], "num_params:short:" + std::to_string(16 + 3 * 6 + 1));
    EXPECT_EQ(file[13], std::string("pts_per_frame:long:8"));
    EXPECT_EQ(file[14], std::string("pts_per_group:long:16"));
    EXPECT_EQ(file[15], std::string("repeats:short:1"));

    const Json& channels = doc.at("channels");
    ASSERT_EQ(channels.size(), 3u);
    const char* const directions[] = {"+Z", "-X", ""};
    const int directionEnums[] = {4, 8, 0};
    const char* const points[] = {"Hub:force", "Damper:travel", "Body, rear:acceleration"};
    for (int c = 0; c < 3; ++c) {
      SCOPED_TRACE("channel " + std::to_string(c + 1));
      const Json& channel = channels[c];
      const Rpc3ChannelTexts& texts = layout.mChannelTexts[c];
      ASSERT_EQ(channel.size(), 7u);
      EXPECT_EQ(channel.at("number"), c + 1);
      EXPECT_EQ(channel.at("label"), texts.mDesc);
      EXPECT_EQ(annotationTexts(channel.at("annotations")),
                (std::vector<std::string>{"description:string:\"" + texts.mDesc + "\"",
                                          "lower_limit:long:" + texts.mLower,
                                          "upper_limit:long:" + texts.mUpper,
                                          "map:long:" + std::to_string(c + 1),
                                          "units:string:\"" + texts.mUnits + "\"",
                                          "scale:double:" + Json(std::stod(texts.mScale)).dump()}));
      EXPECT_EQ(channel.at("values"), (Json{{"count", 24}, {"first", 0.0}, {"spacing", 0.0025}}));
      EXPECT_EQ(channel.at("unit"), texts.mUnits);

      const auto quantity =
          TamblixHq::NODRA::Framework::CUnitCatalogue::sfGetUnitCatalogue()->mfRead(texts.mUnits);
      ASSERT_TRUE(quantity.has_value());
      const Json& q = channel.at("quantity");
      EXPECT_EQ(q.at("unit"), texts.mUnits);
      EXPECT_EQ(q.at("transform"), (Json{quantity->offset, quantity->numerator, quantity->denominator}));
      ASSERT_EQ(q.at("terms").size(), quantity->terms.length());
      for (CORBA::ULong t = 0; t < quantity->terms.length(); ++t) {
        EXPECT_EQ(q.at("terms")[t][0], quantity->terms[t].exponent_numerator);
        EXPECT_EQ(q.at("terms")[t][1], quantity->terms[t].exponent_denominator);
        EXPECT_TRUE(q.at("terms")[t][2].is_string());
      }

      const Json& record = channel.at("function_record");
      EXPECT_EQ(record.at("function_class"), 13);        // a sampled time history
      EXPECT_EQ(record.at("date"), 1718440200);           // 2024-06-15 08:30:00 UTC
      EXPECT_EQ(record.at("sampling_frequency"), 400.0);
      EXPECT_EQ(record.at("channel_number"), c + 1);
      EXPECT_EQ(record.at("point"), points[c]);
      EXPECT_EQ(record.at("direction"), directionEnums[c]) << directions[c];
    }
    // Newton and g are made of length, mass and time; the millimetre is a length.
    EXPECT_EQ(channels[1].at("quantity").at("terms"), (Json{{1, 1, "LENGTH"}}));
  }
}

TEST_F(BrowseProgram, DumpGivesEveryValueOfSeveralChannelsExactlyForEveryFormat) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.mName);
    const Rpc3FileLayout layout = exampleLayout(format);
    const std::string path = mDir.mfWriteFile(std::string(format.mName) + ".rsp", mfBuildRpc3File(layout));
    const ProgramResult run = mfBrowse({"dump", path, "--channel", "3,1,2", "--start", "6", "--count", "15"});
    ASSERT_EQ(run.mStatus, 0) << run.mErr;
    std::istringstream lines(run.mOut);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "time [s],\"Body, rear:acceleration [g]\",Hub:force:+Z [N],Damper:travel:-X [mm]");
    int rows = 0;
    for (std::int64_t index = 6; std::getline(lines, line); ++index, ++rows) {
      std::istringstream fields(line);
      std::string time, a, b, c;
      std::getline(fields, time, ',');
      std::getline(fields, a, ',');
      std::getline(fields, b, ',');
      std::getline(fields, c, ',');
      EXPECT_EQ(std::stod(time), static_cast<double>(index - 1) * 0.0025) << line;
      EXPECT_EQ(std::stof(a), scaled(layout, 3, index)) << line;
      EXPECT_EQ(std::stof(b), scaled(layout, 1, index)) << line;
      EXPECT_EQ(std::stof(c), scaled(layout, 2, index)) << line;
    }
    EXPECT_EQ(rows, 15);
  }
}

TEST_F(BrowseProgram, DumpRowsAreTheRangeAskedClippedToTheEnd) {
  const std::string path = mDir.mfWriteFile("range.rsp", mfBuildRpc3File(exampleLayout(kFormats[0])));
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{}, 24},
      {{"--count", "0"}, 0},  // the header line alone, as the values object answers
      {{"--start", "20"}, 5},
      {{"--start", "24", "--count", "5"}, 1},
      {{"--start", "3", "--count", "4294967295"}, 22},
  };
  for (const auto& [range, rows] : cases) {
    std::vector<std::string> args = {"dump", path, "--channel", "1,2"};
    args.insert(args.end(), range.begin(), range.end());
    const ProgramResult run = mfBrowse(args);
    ASSERT_EQ(run.mStatus, 0) << run.mErr;
    EXPECT_EQ(std::count(run.mOut.begin(), run.mOut.end(), '\n'), rows + 1) << testing::PrintToString(range);
    EXPECT_EQ(run.mOut.rfind("time [s],", 0), 0u);
  }
}

TEST_F(BrowseProgram, LongDumpsGiveEveryLineOnceAndInOrderAcrossChunksAndPieces) {
  // Longer than three calls' chunks and many pieces of text formatted side by side.
  Rpc3FileLayout layout = exampleLayout(kFormats[0]);
  layout.mPtsPerFrame = 1000;
  layout.mPtsPerGroup = 1000;
  layout.mFrames = 200;
  layout.mSample = [](int channel, std::int64_t index) {
    return static_cast<double>((index * (channel + 6)) % 20001 - 10000);  // within 2 bytes
  };
  const std::string path = mDir.mfWriteFile("long.rsp", mfBuildRpc3File(layout));
  struct Case {
    std::vector<std::string> range;
    std::int64_t first, rows;
  };
  const Case cases[] = {
      {{}, 1, 200000},
      {{"--start", "65530", "--count", "131090"}, 65530, 131090},
      {{"--start", "199999"}, 199999, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.range));
    std::vector<std::string> args = {"dump", path, "--channel", "2,1"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    const ProgramResult run = mfBrowse(args);
    ASSERT_EQ(run.mStatus, 0) << run.mErr;
    std::istringstream lines(run.mOut);
    std::string line;
    std::getline(lines, line);
    std::int64_t index = c.first, wrong = 0;
    while (std::getline(lines, line)) {
      const std::size_t comma = line.find(',');
      const bool good = comma != std::string::npos &&
                        std::stod(line.substr(0, comma)) == static_cast<double>(index - 1) * 0.0025 &&
                        line.substr(comma + 1) == mfShortText(scaled(layout, 2, index)) + "," +
                                                      mfShortText(scaled(layout, 1, index));
      if (!good && ++wrong < 5) ADD_FAILURE() << "line of value " << index << ": " << line;
      ++index;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(index - c.first, c.rows);
  }
}

TEST_F(BrowseProgram, AZeroSamplingIntervalStillGivesValidJson) {
  Rpc3FileLayout layout = exampleLayout(kFormats[0]);
  layout.mDeltaT = "0";
  layout.mDate = "not a date";
  const Json doc = mfJson({"--json", mDir.mfWriteFile("still.rsp", mfBuildRpc3File(layout))});
  const Json& record = doc.at("channels")[0].at("function_record");
  EXPECT_EQ(record.at("sampling_frequency"), "inf");
  EXPECT_EQ(record.at("date"), "not a date");
}

TEST_F(BrowseProgram, TheFileDateIsShownInIso8601BesideItsTextWhereEitherFormReads) {
  const std::pair<const char*, const char*> cases[] = {
      {"015-Jun-2024 08:30:00", "2024-06-15T08:30:00"},
      {"08:30:00 15-JUN-24", "2024-06-15T08:30:00"},
      {"030-APR-23 11:27:28", "2023-04-30T11:27:28"},
      {"not a date", nullptr},
      {"031-Jun-2024 08:30:00", nullptr},
  };
  for (const auto& [text, iso] : cases) {
    SCOPED_TRACE(text);
    Rpc3FileLayout layout = exampleLayout(kFormats[0]);
    layout.mDate = text;
    const std::string path = mDir.mfWriteFile("dated.rsp", mfBuildRpc3File(layout));
    const Json doc = mfJson({"--json", path});
    const Json& annotations = doc.at("file").at("annotations");
    const auto date = std::find_if(annotations.begin(), annotations.end(),
                                   [](const Json& a) { return a.at("name") == "date"; });
    ASSERT_NE(date, annotations.end());
    EXPECT_EQ(date->at("value"), text);
    const ProgramResult listing = mfBrowse({path});
    if (iso) {
      EXPECT_EQ(date->value("iso8601", ""), iso);
      EXPECT_NE(listing.mOut.find("  date = " + std::string(text) + " (" + iso + ")\n"), std::string::npos);
    } else {
      EXPECT_FALSE(date->contains("iso8601"));
      EXPECT_NE(listing.mOut.find("  date = " + std::string(text) + "\n"), std::string::npos);
    }
  }
}

TEST_F(BrowseProgram, DataErrorsGiveStatusOneWithTheExceptionsReasonAndWithVerboseItsPlace) {
  const Bytes whole = mfBuildRpc3File(exampleLayout(kFormats[0]));
  const std::string cut = mDir.mfWriteFile("cut.rsp", mfTruncate(whole, 700));
  const ProgramResult run = mfBrowse({cut}), verbose = mfBrowse({"--verbose", cut});
  EXPECT_EQ(run.mStatus, 1);
  EXPECT_NE(run.mErr.find("(reason: "), std::string::npos) << run.mErr;
  EXPECT_EQ(run.mErr.find(" [at "), std::string::npos) << run.mErr;
  EXPECT_NE(verbose.mErr.find(" [at "), std::string::npos) << verbose.mErr;
  EXPECT_TRUE(run.mOut.empty());
}

TEST_F(BrowseProgram, ChannelsThatCannotBeReadOrCountedAreDataErrorsNotEmptyOutput) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 4;
  layout.mExtraKeywords = {{"PTS_PER_FRAME", "0"}};
  ProgramResult run = mfBrowse({"dump", mDir.mfWriteFile("zero.rsp", mfBuildRpc3File(layout)), "--channel", "1"});
  EXPECT_EQ(run.mStatus, 1);
  EXPECT_NE(run.mErr.find("PTS_PER_FRAME is 0"), std::string::npos) << run.mErr;

  // 4 x 2^30 values: a 32-bit count would read 0.
  layout.mExtraKeywords = {{"FRAMES", "4"}, {"PTS_PER_FRAME", "1073741824"}, {"PTS_PER_GROUP", "1073741824"}};
  run = mfBrowse({mDir.mfWriteFile("wide.rsp", mfBuildRpc3File(layout))});
  EXPECT_EQ(run.mStatus, 1);
  EXPECT_NE(run.mErr.find("too many to count"), std::string::npos) << run.mErr;
}

TEST_F(BrowseProgram, AServerOnLoopbackAnswersAsTheEmbeddedObjectsDo) {
  for (const Format& format : kFormats) {
    mDir.mfWriteFile(std::string("2024/") + format.mName + ".rsp", mfBuildRpc3File(exampleLayout(format)));
  }
  const int port = mfFreePort();
  ASSERT_GT(port, 0);
  ChildProcess server({NODRA_SERVER_PATH, "--access-point", "rig=" + mDir.mfText(), "--port",
                       std::to_string(port)});
  ASSERT_TRUE(server.mfStarted());
  ASSERT_TRUE(mfWaitForServer(NODRA_BROWSE_PATH, port));
  const std::string url = "corbaloc::127.0.0.1:" + std::to_string(port) + "/NodraServer";
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.mName);
    const std::string name = std::string("2024/") + format.mName + ".rsp";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--json"}, {"dump", "--channel", "1,2,3"}}) {
      std::vector<std::string> local = args, remote = args;
      local.push_back(mDir.mfFile(name));
      remote.insert(remote.end(), {"--server", url, "rig/" + name});
      const ProgramResult embedded = mfBrowse(local), served = mfBrowse(remote);
      EXPECT_EQ(served.mStatus, 0) << served.mErr;
      EXPECT_EQ(served.mOut, embedded.mOut);
      EXPECT_FALSE(served.mOut.empty());
    }
  }
  // What the server holds, and refusals that name the path as given and the access points.
  const ProgramResult held = mfBrowse({"files", "--server", url}), unknown = mfBrowse({"--server", url, "rgi/a.rsp"}),
                      missing = mfBrowse({"--server", url, "rig/2024/nope.rsp"});
  EXPECT_EQ(held.mOut, "rig/\nrig/2024/\n") << held.mErr;
  EXPECT_EQ(mfBrowse({"files", "--server", url, "rig/2024"}).mOut,
            "rig/2024/FloatBig.rsp\nrig/2024/FloatLittle.rsp\nrig/2024/ShortBig.rsp\nrig/2024/ShortLittle.rsp\n");
  EXPECT_EQ(unknown.mStatus, 1);
  EXPECT_NE(unknown.mErr.find("Unknown access point \"rgi\" (the server has: rig)"), std::string::npos) << unknown.mErr;
  EXPECT_NE(missing.mErr.find("Unable to open rig/2024/nope.rsp: "), std::string::npos) << missing.mErr;
  EXPECT_EQ(server.mfStopAndGetStatus(), 0);
}

// Several files: listed one after another, dumped side by side only on one time base; a
// server's refusal names the path as given and the access points it has.
TEST_F(BrowseProgram, SeveralFilesAreListedAndDumpedTogetherOnlyOnOneTimeBase) {
  const Rpc3FileLayout layout = exampleLayout(kFormats[0]);
  Rpc3FileLayout slower = layout;
  slower.mDeltaT = "0.005";
  const std::string a = mDir.mfWriteFile("a.rsp", mfBuildRpc3File(layout));
  const std::string b = mDir.mfWriteFile("sub/b.rsp", mfBuildRpc3File(layout));
  const std::string c = mDir.mfWriteFile("c.rsp", mfBuildRpc3File(slower));

  const ProgramResult listed = mfBrowse({a, b});
  EXPECT_EQ(listed.mStatus, 0) << listed.mErr;
  EXPECT_NE(listed.mOut.find(a + ": 3 channels"), std::string::npos);
  EXPECT_NE(listed.mOut.find(b + ": 3 channels"), std::string::npos);
  const Json documents = mfJson({"stats", "--json", a, c, "-c", "Damper:travel:-X"});
  ASSERT_EQ(documents.size(), 2u);
  EXPECT_EQ(documents[1].at("path"), c);

  const ProgramResult together = mfBrowse({"dump", a, b, "-c", "1,3", "--count", "1"});
  EXPECT_EQ(together.mStatus, 0) << together.mErr;
  EXPECT_EQ(together.mOut, "time [s],Hub:force:+Z [N],\"Body, rear:acceleration [g]\",Hub:force:+Z [N],"
                           "\"Body, rear:acceleration [g]\"\n0,49.5,299,49.5,299\n");
  const ProgramResult apart = mfBrowse({"dump", a, c, "-c", "1"});
  EXPECT_EQ(apart.mStatus, 2);
  EXPECT_NE(apart.mErr.find(a + " and " + c + " have different time bases"), std::string::npos) << apart.mErr;
}

// A writer that ends its DATE with a newline must not break the listing's lines.
TEST_F(BrowseProgram, TheListingQuotesControlCharacters) {
  Rpc3FileLayout layout = exampleLayout(kFormats[0]);
  layout.mDate = "015-Jun-2024 08:30:00\n";
  layout.mChannelTexts[0].mDesc = "Hub\x0b:force:+Z";
  const ProgramResult run = mfBrowse({mDir.mfWriteFile("nl.rsp", mfBuildRpc3File(layout))});
  EXPECT_EQ(run.mStatus, 0) << run.mErr;
  EXPECT_NE(run.mOut.find("  date = \"015-Jun-2024 08:30:00\\x0a\""), std::string::npos) << run.mOut;
  EXPECT_NE(run.mOut.find("\n1  \"Hub\\x0b:force:+Z\""), std::string::npos) << run.mOut;
}

}  // namespace
}  // namespace nodra::test
