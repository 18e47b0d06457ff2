#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rpc3/format/CRPC3Header.h"
#include "rpc3/format/RPC3HeaderRecords.h"
#include "tests/rpc3/format/FormatTestSupport.h"

namespace {

using namespace nodra::test;
using TamblixHq::NODRA::Drivers::RPC3::CRPC3Header;
using TamblixHq::NODRA::Drivers::RPC3::eBinary;
using TamblixHq::NODRA::Drivers::RPC3::eBinaryIeeeBigEnd;
using TamblixHq::NODRA::Drivers::RPC3::eBinaryIeeeLittleEnd;
using TamblixHq::NODRA::Drivers::RPC3::eAscii;
using TamblixHq::NODRA::Drivers::RPC3::eFloatingPoint;
using TamblixHq::NODRA::Drivers::RPC3::eShortInteger;
using TamblixHq::NODRA::Utility::CStringU;

class Rpc3HeaderTest : public FormatTest {
protected:
  std::string mfValue(const CRPC3Header& header, const char* keyword) {
    return header.mfGetKeywordValue(CStringU(keyword)).mfStd();
  }
};

TEST_F(Rpc3HeaderTest, OneBlockHeaderHoldsItsThreeRecordsAndTheEmptyPaddingPair) {
  mpWrite("one.rpc", mfHeaderOf({{"FORMAT", "binary"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "3"}}));
  const CRPC3Header header(mfKey("one.rpc"));
  EXPECT_EQ(header.mfGetNumberOfEntries(), 4u);
  EXPECT_EQ(mfValue(header, "FORMAT"), "binary");
  EXPECT_EQ(mfValue(header, "NUM_HEADER_BLOCKS"), "1");
  EXPECT_EQ(mfValue(header, "NUM_PARAMS"), "3");
  EXPECT_EQ(mfValue(header, ""), "");
  EXPECT_EQ(header.mfGetStorageFormat(), eBinary);
  EXPECT_EQ(header.mfGetDataType(), eShortInteger);
}

TEST_F(Rpc3HeaderTest, ThirdRecordValueNamesTheLastRecordRead) {
  // 20 in the third record, whatever its keyword: records 0..20 are read, record 21 is not.
  Rpc3HeaderWriter twenty;
  twenty.mfAdd("FORMAT", "BINARY").mfAdd("NUM_HEADER_BLOCKS", "6").mfAdd("COUNT_BY_POSITION", "20");
  for (int i = 3; i < 20; ++i) {
    twenty.mfAdd("KEY_" + std::to_string(i), std::to_string(i));
  }
  twenty.mfAdd("RECORD_20", "read").mfAdd("RECORD_21", "not read");
  mpWrite("twenty.rpc", twenty.mfGetBytes(6));
  const CRPC3Header header(mfKey("twenty.rpc"));
  EXPECT_EQ(header.mfGetNumberOfEntries(), 21u);
  EXPECT_EQ(mfValue(header, "RECORD_20"), "read");
  EXPECT_EQ(mfValue(header, "RECORD_21"), "");

  // Counts below 2 or not numbers still read exactly the three fixed records.
  for (const char* count : {"0", "1", "-5", "abc", ""}) {
    SCOPED_TRACE(count);
    mpWrite("few.rpc", mfHeaderOf({{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"},
                                   {"NUM_PARAMS", count}, {"FOURTH", "x"}}));
    const CRPC3Header few(mfKey("few.rpc"));
    EXPECT_EQ(few.mfGetNumberOfEntries(), 3u);
    EXPECT_EQ(mfValue(few, "NUM_PARAMS"), count);
    EXPECT_EQ(mfValue(few, "FOURTH"), "");
  }
}

TEST_F(Rpc3HeaderTest, FilledHeaderTakesTheFirstDataBytesAsOneMoreRecord) {
  Rpc3HeaderWriter filled;
  filled.mfAdd("FORMAT", "BINARY").mfAdd("NUM_HEADER_BLOCKS", "1").mfAdd("NUM_PARAMS", "4").mfAdd("DATE", "today");
  Bytes file = filled.mfGetBytes(1, 0);
  const Rpc3Record fromData = Rpc3Record::sfRaw(std::string("FROM_DATA\0junk", 14) + std::string(18, 'k') + "seen");
  file.insert(file.end(), fromData.mBytes.begin(), fromData.mBytes.end());
  mpWrite("filled.rpc", file);
  const CRPC3Header header(mfKey("filled.rpc"));
  EXPECT_EQ(header.mfGetNumberOfEntries(), 5u);
  EXPECT_EQ(mfValue(header, "FROM_DATA"), "seen");
  EXPECT_EQ(mfValue(header, "DATE"), "today");

  // Sample bytes that repeat a real keyword do not replace its value.
  Bytes repeat = filled.mfGetBytes(1, 0);
  const Rpc3Record format = Rpc3Record::sfText("FORMAT", "BINARY_IEEE_BIG_END");
  repeat.insert(repeat.end(), format.mBytes.begin(), format.mBytes.end());
  mpWrite("repeat.rpc", repeat);
  const CRPC3Header repeated(mfKey("repeat.rpc"));
  EXPECT_EQ(mfValue(repeated, "FORMAT"), "BINARY");
  EXPECT_EQ(repeated.mfGetStorageFormat(), eBinary);
}

TEST_F(Rpc3HeaderTest, FieldTextsAreKeptExactlyAndLookupsTrimOnlyTheAskedKeyword) {
  const std::string longKeyword(32, 'K');
  Rpc3HeaderWriter writer;
  writer.mfAdd("FORMAT", "BINARY").mfAdd("NUM_HEADER_BLOCKS", "3").mfAdd("NUM_PARAMS", "9");
  writer.mfAdd(longKeyword, "value of the long keyword");
  writer.mfAdd(Rpc3Record::sfPadded("PADDED", "blank padded"));
  writer.mfAdd("UNITS.CHAN_1", " mm ");
  writer.mfAdd("DUPLICATE", "first").mfAdd("DUPLICATE", "second");
  writer.mfAdd(Rpc3Record::sfText("FULL_VALUE", std::string(96, 'v')));
  mpWrite("fields.rpc", writer.mfGetBytes(3));
  const CRPC3Header header(mfKey("fields.rpc"));

  EXPECT_EQ(mfValue(header, longKeyword.c_str()), "value of the long keyword");
  EXPECT_EQ(mfValue(header, "PADDED"), "");
  EXPECT_EQ(mfValue(header, "UNITS.CHAN_1"), " mm ");
  EXPECT_EQ(mfValue(header, " \tUNITS.CHAN_1\t  "), " mm ");
  EXPECT_EQ(mfValue(header, "units.chan_1"), "");
  EXPECT_EQ(mfValue(header, "DUPLICATE"), "first");
  EXPECT_EQ(mfValue(header, "FULL_VALUE"), std::string(96, 'v'));
  EXPECT_EQ(mfValue(header, "NOT_THERE"), "");
}

TEST_F(Rpc3HeaderTest, StorageFormatComparesTheWholeTextIgnoringCase) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"ascii", eAscii},
      {"ASCII", eAscii},
      {"binary", eBinary},
      {"Binary_Ieee_Little_End", eBinaryIeeeLittleEnd},
      {"binary_ieee_big_end", eBinaryIeeeBigEnd},
      {"BINARY_IEEE_BIG_END", eBinaryIeeeBigEnd},
      {"BINARY_IEEE_BIG_END ", eBinary},
      {"BINARY_IEEE_BIG", eBinary},
      {"", eBinary},
      {"text", eBinary}};
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    mpWrite("format.rpc", mfHeaderOf({{"FORMAT", text}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "3"}}));
    EXPECT_EQ(CRPC3Header(mfKey("format.rpc")).mfGetStorageFormat(), expected);
  }
  mpWrite("noformat.rpc", mfHeaderOf({{"FILE_TYPE", "TIME_HISTORY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "3"}}));
  EXPECT_EQ(CRPC3Header(mfKey("noformat.rpc")).mfGetStorageFormat(), eBinary);
}

TEST_F(Rpc3HeaderTest, DataTypeIsShortOnlyWhenAbsentOrShortInteger) {
  mpWrite("absent.rpc", mfHeaderOf({{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "3"}}));
  EXPECT_EQ(CRPC3Header(mfKey("absent.rpc")).mfGetDataType(), eShortInteger);
  const std::vector<std::pair<std::string, int>> cases = {
      {"SHORT_INTEGER", eShortInteger}, {"short_integer", eShortInteger}, {"Short_Integer", eShortInteger},
      {"FLOATING_POINT", eFloatingPoint}, {"", eFloatingPoint}, {"SHORT_INTEGER ", eFloatingPoint}};
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    mpWrite("type.rpc", mfHeaderOf({{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "4"},
                                    {"DATA_TYPE", text}}));
    EXPECT_EQ(CRPC3Header(mfKey("type.rpc")).mfGetDataType(), expected);
  }
}

TEST_F(Rpc3HeaderTest, StandardFileHeaderDescribesItsLayout) {
  Rpc3FileLayout layout;
  layout.mChannels = 3;
  layout.mFrames = 5;
  layout.mFloat = true;
  layout.mFormat = "BINARY_IEEE_BIG_END";
  layout.mChannelTexts = {{"Force", "kN", "0.5", "-10", "10"}};
  const Bytes file = mfBuildRpc3File(layout);
  mpWrite("standard.rpc", file);
  const CRPC3Header header(mfKey("standard.rpc"));
  const int blocks = header.mfGetKeywordValue(CStringU("NUM_HEADER_BLOCKS")).mfGetInt();
  const int params = header.mfGetKeywordValue(CStringU("NUM_PARAMS")).mfGetInt();
  EXPECT_EQ(header.mfGetNumberOfEntries(), static_cast<std::size_t>(params) + 1);  // + padding pair
  EXPECT_LT(params, blocks * 4);
  EXPECT_EQ(mfGetRpc3SampleOffset(layout, 1, 1), blocks * 512);
  EXPECT_EQ(file.size(), static_cast<std::size_t>(blocks * 512 + 3 * 5 * 16 * 4));
  EXPECT_EQ(mfValue(header, "DESC.CHAN_1"), "Force");
  EXPECT_EQ(mfValue(header, "SCALE.CHAN_1"), "0.5");
  EXPECT_EQ(mfValue(header, "UNITS.CHAN_3"), "V");
  EXPECT_EQ(mfValue(header, "CHANNELS"), "3");
  EXPECT_EQ(header.mfGetDataType(), eFloatingPoint);
  EXPECT_EQ(header.mfGetStorageFormat(), eBinaryIeeeBigEnd);
}

TEST_F(Rpc3HeaderTest, FilledHeaderReadsWhateverSampleBytesFollowIt) {
  // Record 4 would be the first 128 bytes of the data: none, or fewer than a record.
  Rpc3HeaderWriter full;
  full.mfAdd("FORMAT", "BINARY").mfAdd("NUM_HEADER_BLOCKS", "1").mfAdd("NUM_PARAMS", "4").mfAdd("DATE", "x");
  for (std::size_t dataBytes : {0, 1, 127}) {
    SCOPED_TRACE(dataBytes);
    Bytes file = full.mfGetBytes(1, 0);
    file.resize(file.size() + dataBytes, 'k');
    mpWrite("nodata.rpc", file);
    const CRPC3Header header(mfKey("nodata.rpc"));
    EXPECT_EQ(header.mfGetNumberOfEntries(), 4u);
    EXPECT_EQ(header.mfGetCountedRecords(), 4);
    EXPECT_EQ(mfValue(header, "DATE"), "x");
  }
}

TEST_F(Rpc3HeaderTest, UnreadableHeaderRaisesTheHeaderExceptionAfterLoggingIt) {
  // A block announcing records 0..4, the fourth counted record cut short.
  Rpc3HeaderWriter full;
  full.mfAdd("FORMAT", "BINARY").mfAdd("NUM_HEADER_BLOCKS", "1").mfAdd("NUM_PARAMS", "4").mfAdd("DATE", "x");
  mpWrite("nodata.rpc", mfTruncate(full.mfGetBytes(1, 0), 500));
  const CStringU key = mfKey("nodata.rpc");
  const auto failure = mfFailureOf([&] { CRPC3Header header(key); });
  ASSERT_TRUE(failure.has_value());
  const std::string message = "Unable to read RPC3 header for <" + key.mfStd() + ">";
  EXPECT_EQ(failure->mMessage, message);
  EXPECT_EQ(failure->mReason, "Initialisation of RPC3Header map failed");
  EXPECT_EQ(failure->mPlace, "CRPC3Header::CRPC3Header");
  EXPECT_TRUE(mLog.mfContains(message + " (reason: Initialisation of RPC3Header map failed; at CRPC3Header::CRPC3Header)"));

  const Bytes good = mfHeaderOf({{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "3"}});
  mpWrite("short.rpc", mfTruncate(good, 100));
  mpWrite("tworecords.rpc", mfTruncate(good, 256));
  mpWrite("huge.rpc", mfHeaderOf({{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "2147483647"}}));
  mpWrite("empty.rpc", {});
  ScratchDir outside;
  outside.mfWriteFile("out.rpc", good);
  std::filesystem::create_symlink(outside.mfPath() / "out.rpc", mDir.mfPath() / "link.rpc");
  std::filesystem::create_directory(mDir.mfPath() / "folder.rpc");
  const std::string up = "..\\" + outside.mfPath().filename().string() + "\\out.rpc";

  for (const std::string name : {"missing.rpc", "short.rpc", "tworecords.rpc", "huge.rpc", "empty.rpc",
                                 "link.rpc", "folder.rpc", up.c_str()}) {
    SCOPED_TRACE(name);
    const CStringU path = mfKey(name);
    const auto refused = mfFailureOf([&] { CRPC3Header header(path); });
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->mMessage, "Unable to read RPC3 header for <" + path.mfStd() + ">");
    EXPECT_EQ(refused->mReason, "Initialisation of RPC3Header map failed");
    EXPECT_TRUE(mLog.mfContains(refused->mMessage));
  }
  // Files that cannot be opened also leave a line saying why.
  EXPECT_TRUE(mLog.mfContains("cannot open <" + mfKey("missing.rpc").mfStd() + ">"));
}

TEST_F(Rpc3HeaderTest, HeadersOfManyRecordsReadUpToTheirBound) {
  // As many records as a header may have: read in one pass, each keyword found.
  Rpc3HeaderWriter most;
  const int records = static_cast<int>(TamblixHq::NODRA::Drivers::RPC3::kMaximumRecords);
  most.mfAdd("FORMAT", "BINARY").mfAdd("NUM_HEADER_BLOCKS", std::to_string(records / 4));
  most.mfAdd("NUM_PARAMS", std::to_string(records));
  for (int i = 3; i < records; ++i) most.mfAdd("K" + std::to_string(i), std::to_string(i));
  mpWrite("most.rpc", most.mfGetBytes(0, 0));
  const CRPC3Header header(mfKey("most.rpc"));
  EXPECT_EQ(header.mfGetNumberOfEntries(), static_cast<std::size_t>(records));
  EXPECT_EQ(mfValue(header, "K3"), "3");
  EXPECT_EQ(mfValue(header, ("K" + std::to_string(records - 1)).c_str()), std::to_string(records - 1));
  EXPECT_GT(header.mfGetMemoryBytes(), static_cast<std::size_t>(records) * 2 * 8);

  // One record more is refused before the records are read, and the log says why.
  Rpc3HeaderWriter more;
  more.mfAdd("FORMAT", "BINARY").mfAdd("NUM_HEADER_BLOCKS", "1").mfAdd("NUM_PARAMS", std::to_string(records + 1));
  Bytes bytes = more.mfGetBytes(1);
  bytes.resize(static_cast<std::size_t>(records + 2) * 128, 0);
  mpWrite("more.rpc", bytes);
  const CStringU key = mfKey("more.rpc");
  const auto refused = mfFailureOf([&] { CRPC3Header header(key); });
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->mMessage, "Unable to read RPC3 header for <" + key.mfStd() + ">");
  EXPECT_TRUE(mLog.mfContains("NUM_PARAMS " + std::to_string(records + 1) + " is more than the " +
                              std::to_string(records) + " records a header may have"));
}

TEST_F(Rpc3HeaderTest, ConcurrentLookupsOnOneHeaderAgree) {
  Rpc3FileLayout layout;
  layout.mChannels = 16;
  mpWrite("shared.rpc", mfBuildRpc3File(layout));
  const CRPC3Header header(mfKey("shared.rpc"));
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&header, &mismatches, t] {
      for (int i = 0; i < 2000; ++i) {
        const int channel = (i + t) % 16 + 1;
        const std::string expected = "Channel " + std::to_string(channel);
        if (header.mfGetKeywordValue(CStringU("DESC.CHAN_" + std::to_string(channel))).mfStd() != expected ||
            header.mfGetStorageFormat() != eBinaryIeeeLittleEnd || header.mfGetDataType() != eShortInteger) {
          ++mismatches;
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
