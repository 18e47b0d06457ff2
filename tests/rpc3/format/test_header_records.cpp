// Header records by position, and the file-type detector that must accept what the header
// reader reads: on byte literals and memory files.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/utility/CFileU.h"
#include "host/utility/CMemoryByteSourceU.h"
#include "rpc3/format/CRPC3Header.h"
#include "rpc3/format/RPC3HeaderRecords.h"
#include "tests/support/Rpc3Writer.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {
namespace {

using nodra::test::Bytes;
using nodra::test::Rpc3HeaderWriter;
using nodra::test::Rpc3Record;
using nodra::test::mfTruncate;

bool detects(const Bytes& bytes) {
  Utility::CFileU file(std::make_unique<Utility::CMemoryByteSourceU>(bytes));
  return looksLikeRPC3File(file);
}

bool reads(const Bytes& bytes) {
  Utility::CFileU file(std::make_unique<Utility::CMemoryByteSourceU>(bytes));
  try {
    CRPC3Header header(file, "memory");
    return true;
  } catch (const ::TAMBLIX::NODRA::Framework::DBAccessException&) {
    return false;
  }
}

TEST(HeaderRecords, FieldsEndAtTheirFirstNulOrFillTheirBytes) {
  const Rpc3Record full = Rpc3Record::sfText(std::string(32, 'K'), "value");
  const char* record = reinterpret_cast<const char*>(full.mBytes.data());
  EXPECT_EQ(recordKeyword(record), std::string(32, 'K'));
  EXPECT_EQ(recordValue(record), "value");
  const Rpc3Record padded = Rpc3Record::sfPadded("KEY", "v");
  EXPECT_EQ(recordKeyword(reinterpret_cast<const char*>(padded.mBytes.data())), "KEY" + std::string(29, ' '));
  EXPECT_EQ(recordValue(reinterpret_cast<const char*>(Rpc3Record::sfNul().mBytes.data())), "");
}

TEST(HeaderRecords, TheCountRecordNamesTheLastRecordReadButNeverFewerThanThree) {
  EXPECT_EQ(recordsToRead("20"), 21);
  EXPECT_EQ(recordsToRead(" 4"), 5);
  for (const char* few : {"", "0", "1", "2", "-7", "many"}) EXPECT_EQ(recordsToRead(few), 3) << few;
  EXPECT_EQ(recordsToRead("99999999999"), 2147483648LL);  // saturates, does not wrap
  // The header counts one record fewer than the reader reads, but never fewer than three.
  EXPECT_EQ(countedRecords("20"), 20);
  for (const char* few : {"", "0", "2", "3", "-7", "many"}) EXPECT_EQ(countedRecords(few), 3) << few;
  EXPECT_TRUE(recordsFit(4, 512));
  EXPECT_FALSE(recordsFit(5, 512));
  EXPECT_TRUE(recordsFit(1000, -1));
}

TEST(HeaderRecords, TheListingShowsEveryRecordReadWithRepeatsAndSampleBytesMarked) {
  // "text" rows are keyword=value, "!" marks a dropped repeat and "D" a record in the data.
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> records;
    std::size_t blocks;  // of the header; the data follow
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"padded",
       {{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "3"}},
       1,
       {"FORMAT=BINARY", "NUM_HEADER_BLOCKS=1", "NUM_PARAMS=3", "="}},
      {"filled",
       {{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "4"}, {"DATE", "x"}},
       1,
       {"FORMAT=BINARY", "NUM_HEADER_BLOCKS=1", "NUM_PARAMS=4", "DATE=x", "SAMPLES=raw D"}},
      {"repeated and blank-padded",
       {{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "2"}, {"NUM_PARAMS", "6"}, {"UNITS ", "mm"},
        {"FORMAT", "ASCII"}, {"UNITS ", " N"}},
       2,
       {"FORMAT=BINARY", "NUM_HEADER_BLOCKS=2", "NUM_PARAMS=6", "UNITS =mm", "FORMAT=ASCII !",
        "UNITS = N !", "="}},
      {"count below three",
       {{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "0"}, {"NOT", "read"}},
       1,
       {"FORMAT=BINARY", "NUM_HEADER_BLOCKS=1", "NUM_PARAMS=0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rpc3HeaderWriter writer;
    for (const auto& [keyword, value] : c.records) writer.mfAdd(keyword, value);
    Bytes bytes = writer.mfGetBytes(c.blocks, 0);
    const Rpc3Record samples = Rpc3Record::sfText("SAMPLES", "raw");
    bytes.insert(bytes.end(), samples.mBytes.begin(), samples.mBytes.end());
    Utility::CFileU file(std::make_unique<Utility::CMemoryByteSourceU>(bytes));
    const auto list = listHeaderRecords(file, static_cast<std::int64_t>(c.blocks) * 512);
    ASSERT_TRUE(list.has_value());
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < list->size(); ++i) {
      const RPC3RecordReading& r = (*list)[i];
      EXPECT_EQ(r.number, static_cast<std::int64_t>(i));
      seen.push_back(r.keyword + "=" + r.value + (r.dropped ? " !" : "") + (r.fromData ? " D" : ""));
    }
    EXPECT_EQ(seen, c.expected);
  }
  // A counted record cut short: nothing.
  const Bytes cut = mfTruncate(Rpc3HeaderWriter().mfAdd("FORMAT", "B").mfAdd("N", "1").mfAdd("C", "9").mfGetBytes(3), 600);
  Utility::CFileU file(std::make_unique<Utility::CMemoryByteSourceU>(cut));
  EXPECT_FALSE(listHeaderRecords(file, 1536).has_value());
}

TEST(HeaderRecords, TheDetectorAcceptsTheHeadersTheReaderReadsByPosition) {
  const auto standard = [] {
    return Rpc3HeaderWriter().mfAdd("FORMAT", "BINARY").mfAdd("NUM_HEADER_BLOCKS", "1").mfAdd("NUM_PARAMS", "3");
  };
  const Bytes plain = standard().mfGetBytes();
  EXPECT_TRUE(detects(plain));
  EXPECT_TRUE(reads(plain));
  // The reader goes by position: a first keyword in other letters or padded with blanks is
  // still a header it reads, and the detector agrees.
  for (const Rpc3Record& first : {Rpc3Record::sfText("format", "BINARY"), Rpc3Record::sfPadded("FORMAT", "BINARY"),
                                  Rpc3Record::sfText("  Format\t", "BINARY")}) {
    const Bytes bytes = Rpc3HeaderWriter().mfAdd(first).mfAdd("NUM_HEADER_BLOCKS", "1").mfAdd("NUM_PARAMS", "3").mfGetBytes();
    EXPECT_TRUE(reads(bytes));
    EXPECT_TRUE(detects(bytes));
  }
  // Something else first: not an RPC III file, even if the reader could take the bytes.
  const Bytes other = Rpc3HeaderWriter().mfAdd("TITLE", "x").mfAdd("NUM_HEADER_BLOCKS", "1").mfAdd("NUM_PARAMS", "3").mfGetBytes();
  EXPECT_FALSE(detects(other));
  // A damaged header that begins like one is still an RPC III file, whose opening then
  // says what is wrong; too few bytes for a keyword are nothing.
  EXPECT_FALSE(reads(nodra::test::mfTruncate(plain, 3 * 128 - 1)));
  EXPECT_TRUE(detects(nodra::test::mfTruncate(plain, 3 * 128 - 1)));
  EXPECT_TRUE(detects(nodra::test::mfTruncate(plain, 32)));
  EXPECT_FALSE(detects(nodra::test::mfTruncate(plain, 31)));
  EXPECT_FALSE(detects(Bytes()));
}

}  // namespace
}  // namespace TamblixHq::NODRA::Drivers::RPC3
