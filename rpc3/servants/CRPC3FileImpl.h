// Servant of the root object of one RPC III file: holds the file's shared header for its
// life and lists one child per channel, each resolved on demand through the resolver.
// Safe to share between threads.
#pragma once

#include "host/framework/CDatabase.h"
#include "rpc3/format/CRPC3HeaderLease.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CRPC3FileImpl : public virtual Framework::CDatabase {
public:
  // Acquires the file's header; throws its DBAccessException when it cannot be read.
  CRPC3FileImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CRPC3FileImpl() override;
  CRPC3FileImpl() = delete;
  CRPC3FileImpl(const CRPC3FileImpl&) = delete;
  CRPC3FileImpl& operator=(const CRPC3FileImpl&) = delete;

  // "CHANNELS", looked up on every call; absent, negative or not a number gives 0.
  CORBA::ULong get_number_of_children() override;

protected:
  // One entry per channel the resolver binds, in channel order.
  IDL::BrowsableStructSeq* mfCreateAllChildren() override;

private:
  CRPC3HeaderLease mHeader;  // the file's shared header, held for the servant's life
};

}  // namespace TamblixHq::NODRA::Drivers::RPC3
