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
  // The object id bytes of an identifier. References already handed out carry these
  // bytes, so the layout must never change.
  static std::string sfEncode(const IDL::ObjectId& id);

  // Reads object id bytes, which come from clients and are not trusted. Accepts only
  // what sfEncode writes: exactly eleven fields, no bytes after them, no NUL in a field.
  // On success assigns every field of `id`; on failure returns false and leaves `id` as
  // it was.
  static bool sfDecode(const CORBA::Octet* bytes, std::size_t size, IDL::ObjectId& id);
  static bool sfDecode(const PortableServer::ObjectId& oid, IDL::ObjectId& id);
};

}  // namespace TamblixHq::NODRA::Framework
