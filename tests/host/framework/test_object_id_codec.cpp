// Object id bytes: the layout references already carry, round trips, and ids from clients
// that are not what the encoder writes.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "host/framework/CObjectIdCodec.h"
#include "host/utility/CObjectIdU.h"

namespace {

using TamblixHq::NODRA::Framework::CObjectIdCodec;
using TamblixHq::NODRA::Utility::CObjectIdU;
using Fields = std::array<std::string, CObjectIdU::kFieldCount>;
namespace IDL = ::TAMBLIX::NODRA::Framework;

IDL::ObjectId makeId(const Fields& fields) {
  IDL::ObjectId id;
  for (int i = 0; i < CObjectIdU::kFieldCount; ++i)
    *CObjectIdU::sfFieldMember(id, i) = fields[i].c_str();
  return id;
}

Fields fieldsOf(IDL::ObjectId& id) {
  Fields fields;
  for (int i = 0; i < CObjectIdU::kFieldCount; ++i)
    fields[i] = *CObjectIdU::sfFieldMember(id, i);
  return fields;
}

std::string len(std::uint32_t n) {
  return {char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char(n >> 24)};
}

const Fields kSample = {"ap", "sub/dir", "file.rsp", "RPC3", "", "RPC3Channel",
                        "", "Front left", "Y", "12", "v2:2049:131:4096:1700000000:5:1700000001:6"};
const Fields kBefore = {"u0", "u1", "u2", "u3", "u4", "u5", "u6", "u7", "u8", "u9", "u10"};

// Refused, and the target left as it was: no partial identifier.
void expectRefused(const std::string& bytes, const std::string& what) {
  IDL::ObjectId id = makeId(kBefore);
  const auto* octets = reinterpret_cast<const CORBA::Octet*>(bytes.data());
  EXPECT_FALSE(CObjectIdCodec::sfDecode(octets, bytes.size(), id)) << what;
  EXPECT_EQ(fieldsOf(id), kBefore) << what;
}

TEST(CObjectIdCodec, KeepsTheLayoutAndRoundTripsEmptyAndNonAsciiFields) {
  std::string expected;
  for (const std::string& field : kSample) expected += len(std::uint32_t(field.size())) + field;
  EXPECT_EQ(CObjectIdCodec::sfEncode(makeId(kSample)), expected);
  Fields wide;
  wide[7] = std::string(0x0102, 'x');  // a length above 255 shows the byte order
  EXPECT_EQ(CObjectIdCodec::sfEncode(makeId(wide)).substr(7 * 4, 4), len(0x0102));

  Fields high;  // every byte but NUL, the upper half first, in the text fields
  for (int b = 0xFF; b >= 0x01; --b) high[0].push_back(char(b));
  for (int i = 1; i < 8; ++i) high[i] = i % 3 ? "\x80\xC3\xA9\xFF" + std::to_string(i) : "";
  for (const Fields& fields : {Fields{}, kSample, high}) {
    const std::string bytes = CObjectIdCodec::sfEncode(makeId(fields));
    PortableServer::ObjectId oid(CORBA::ULong(bytes.size()));
    oid.length(CORBA::ULong(bytes.size()));
    for (CORBA::ULong i = 0; i < oid.length(); ++i) oid[i] = CORBA::Octet(bytes[i]);
    IDL::ObjectId id = makeId(kBefore);
    ASSERT_TRUE(CObjectIdCodec::sfDecode(oid, id));
    EXPECT_EQ(fieldsOf(id), fields);
    EXPECT_EQ(CObjectIdCodec::sfEncode(id), bytes);  // one byte string per identifier
  }
}

TEST(CObjectIdCodec, RefusesTruncatedOverLongAndGarbledIds) {
  const std::string bytes = CObjectIdCodec::sfEncode(makeId(kSample));
  for (std::size_t n = 0; n < bytes.size(); ++n)
    expectRefused(bytes.substr(0, n), "cut at " + std::to_string(n));
  const std::string tenEmpty(40, '\0');
  std::string overstated = bytes;  // every later field shifts by one byte
  overstated[0] = char(overstated[0] + 1);
  const std::pair<const char*, std::string> cases[] = {
      {"trailing byte", bytes + 'x'},
      {"a twelfth field", bytes + len(0)},
      {"NUL inside a field", tenEmpty + len(3) + std::string("a\0b", 3)},
      {"a field that is one NUL", tenEmpty + len(1) + std::string(1, '\0')},
      {"length 0xFFFFFFFF", len(0xFFFFFFFFu) + tenEmpty},
      {"length 0xFFFFFFFF last", tenEmpty + len(0xFFFFFFFFu)},
      {"length one past the end", tenEmpty + len(1)},
      {"lengths overstated", overstated},
      {"big-endian length", std::string("\0\0\0\2ab", 6) + tenEmpty},
      {"text without lengths", "ap/sub/file.rsp/RPC3/dom/RPC3Channel/i/l/Y/1/e"},
  };
  for (const auto& [what, garbled] : cases) expectRefused(garbled, what);
}

TEST(CObjectIdCodec, RefusesIdsTheServerWouldNeverWrite) {
  const auto with = [](int field, std::string text) {
    Fields fields = kSample;
    fields[static_cast<std::size_t>(field)] = std::move(text);
    return fields;
  };
  const std::size_t room = CObjectIdCodec::kMaxEncodedSize - CObjectIdCodec::sfEncode(makeId(kSample)).size();
  const std::pair<Fields, const char*> cases[] = {
      {with(8, "Z"), "the axis is not X or Y"},
      {with(8, "x"), "the axis is not X or Y"},
      {with(8, "XY"), "the axis is not X or Y"},
      {with(9, "0"), "the index is not a decimal number from 1"},
      {with(9, "012"), "the index is not a decimal number from 1"},
      {with(9, "+1"), "the index is not a decimal number from 1"},
      {with(9, "1e3"), "the index is not a decimal number from 1"},
      {with(9, "12345678901"), "the index is not a decimal number from 1"},
      {with(10, "ext"), "the file version is not one"},
      {with(10, "v1:2049:131:4096:1700000000:5"), "the file version is not one"},
      {with(10, "v2:1:2:3:4:5:6"), "the file version is not one"},
      {with(10, "v2:01:2:3:4:5:6:7"), "the file version is not one"},
      {with(10, " v2:1:2:3:4:5:6:7"), "the file version is not one"},
      {with(10, "v2: 1:2:3:4:5:6:7"), "the file version is not one"},
      {with(10, "v2:+1:2:3:4:5:6:7"), "the file version is not one"},
      {with(10, "v2:-1:2:3:4:5:6:7"), "the file version is not one"},
      {with(10, "v2:1:2:3:4:5:6:7:"), "the file version is not one"},
      {with(10, "v2:1:2:3:4:5:6:"), "the file version is not one"},
      {with(10, "v2:1:2:3:4:5:6:99999999999999999999"), "the file version is not one"},
      {with(7, std::string(kSample[7].size() + room + 1, 'L')), "the identifier is longer than any the server makes"},
  };
  for (const auto& [fields, reason] : cases) {
    const IDL::ObjectId id = makeId(fields);
    ASSERT_NE(CObjectIdCodec::sfCheckFields(id), nullptr) << reason;
    EXPECT_STREQ(CObjectIdCodec::sfCheckFields(id), reason);
    expectRefused(CObjectIdCodec::sfEncode(id), reason);
  }
  // Right at the bound, and the fields the server leaves empty.
  for (const Fields& fields : {with(7, std::string(kSample[7].size() + room, 'L')), with(8, ""), with(9, ""), with(10, ""),
                               with(8, "X"), with(9, "4294967295"), with(10, "v2:2049:131:-1:1700000000:999999999:-1:0")}) {
    const std::string bytes = CObjectIdCodec::sfEncode(makeId(fields));
    IDL::ObjectId id;
    EXPECT_TRUE(CObjectIdCodec::sfDecode(reinterpret_cast<const CORBA::Octet*>(bytes.data()), bytes.size(), id))
        << bytes.size();
  }
}

}  // namespace
