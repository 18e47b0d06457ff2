#include "host/framework/CObjectIdCodec.h"

#include <cstdint>
#include <cstring>
#include <optional>

#include "host/utility/CFileVersionU.h"
#include "host/utility/CObjectIdU.h"

namespace TamblixHq::NODRA::Framework {

namespace {

using Utility::CObjectIdU;
constexpr int kFields = CObjectIdU::kFieldCount;
constexpr std::size_t kLengthSize = 4;

}  // namespace

std::string CObjectIdCodec::sfEncode(const IDL::ObjectId& id) {
  std::string bytes;
  for (int i = 0; i < kFields; ++i) {
    const char* text = *CObjectIdU::sfFieldMember(const_cast<IDL::ObjectId&>(id), i);
    const std::uint32_t n = static_cast<std::uint32_t>(std::strlen(text));
    for (std::size_t b = 0; b < kLengthSize; ++b)
      bytes.push_back(static_cast<char>((n >> (8 * b)) & 0xFF));
    bytes.append(text, n);
  }
  return bytes;
}

bool CObjectIdCodec::sfDecode(const CORBA::Octet* bytes, std::size_t size, IDL::ObjectId& id) {
  // Fields are collected first so that a refused id leaves nothing half assigned. Every
  // length is checked against the bytes left before anything is allocated for it.
  if (size > kMaxEncodedSize) return false;
  std::string fields[kFields];
  std::size_t pos = 0;
  for (int i = 0; i < kFields; ++i) {
    if (size - pos < kLengthSize) return false;
    std::uint32_t n = 0;
    for (std::size_t b = 0; b < kLengthSize; ++b)
      n |= static_cast<std::uint32_t>(bytes[pos + b]) << (8 * b);
    pos += kLengthSize;
    if (size - pos < n) return false;
    const char* text = reinterpret_cast<const char*>(bytes + pos);
    if (std::memchr(text, '\0', n) != nullptr) return false;  // would cut the field short
    fields[i].assign(text, n);
    pos += n;
  }
  if (pos != size) return false;
  IDL::ObjectId decoded;
  for (int i = 0; i < kFields; ++i) *CObjectIdU::sfFieldMember(decoded, i) = fields[i].c_str();
  if (sfCheckFields(decoded) != nullptr) return false;
  id = decoded;
  return true;
}

const char* CObjectIdCodec::sfCheckFields(const IDL::ObjectId& id) {
  const std::string axis = static_cast<const char*>(id.axis);
  if (!axis.empty() && axis != "X" && axis != "Y") return "the axis is not X or Y";
  const std::string index = static_cast<const char*>(id.index);
  if (!index.empty() && (index.size() > 10 || index[0] < '1' || index[0] > '9' ||
                         index.find_first_not_of("0123456789") != std::string::npos)) {
    return "the index is not a decimal number from 1";
  }
  const std::string version = static_cast<const char*>(id.extension);
  if (!version.empty()) {
    const std::optional<Utility::CFileVersionU> parsed = Utility::CFileVersionU::sfFromText(version);
    if (!parsed || parsed->mfToText() != version) return "the file version is not one";
  }
  std::size_t size = kFields * kLengthSize;
  for (int i = 0; i < kFields; ++i) size += std::strlen(*CObjectIdU::sfFieldMember(const_cast<IDL::ObjectId&>(id), i));
  if (size > kMaxEncodedSize) return "the identifier is longer than any the server makes";
  return nullptr;
}

bool CObjectIdCodec::sfDecode(const PortableServer::ObjectId& oid, IDL::ObjectId& id) {
  return sfDecode(oid.get_buffer(), oid.length(), id);
}

}  // namespace TamblixHq::NODRA::Framework
