// The bytes of the data objects' POA object ids: an identifier's eleven fields in field
// order, each a 4-byte little-endian length and then its text. The same bytes key the
// resolver's servant cache. Stateless; safe to use from any thread.
#pragma once

#include <cstddef>
#include <string>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CObjectIdCodec {
public:
  // The largest id the server makes: a sub-directory of a path's length, a file name and a
  // label of a name's, short texts in the other fields and the lengths. Larger ids come
  // from no reference the server handed out.
  static constexpr std::size_t kMaxEncodedSize = 6144;

  // The object id bytes of an identifier. References already handed out carry these
  // bytes, so the layout must never change.
  static std::string sfEncode(const IDL::ObjectId& id);

  // Reads object id bytes, which come from clients and are not trusted. Accepts only
  // what sfEncode writes of an id that sfCheckFields accepts: at most kMaxEncodedSize
  // bytes, exactly eleven fields, no bytes after them, no NUL in a field. On success
  // assigns every field of `id`; on failure returns false and leaves `id` as it was.
  static bool sfDecode(const CORBA::Octet* bytes, std::size_t size, IDL::ObjectId& id);
  static bool sfDecode(const PortableServer::ObjectId& oid, IDL::ObjectId& id);

  // Why the server would never have written `id`, or nullptr when it might have: an axis
  // (field 8) other than "X", "Y" or empty, an index (field 9) other than empty or a
  // decimal number from 1 without leading zeros, a file version (field 10) other than
  // empty or a version's text, or more than kMaxEncodedSize bytes encoded.
  static const char* sfCheckFields(const IDL::ObjectId& id);
};

}  // namespace TamblixHq::NODRA::Framework
