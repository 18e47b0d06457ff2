// Servant of the root object of one RPC III file: holds the file's shared header for its
// life, carries the file annotations of the header and lists one child per channel, each
// resolved on demand through the resolver, whole or in chunks that describe each channel
// completely. Safe to share between threads.
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
  // The channels from index `start` (from 0), at most the resolver's chunk size of them and
  // at most as many as one reply carries, each with its annotations, function record,
  // values and quantities of both axes. A start at or past the last channel gives three
  // empty sequences.
  IDL::BrowsableExtendedStruct* get_all_children_extended_chunk(CORBA::ULong start) override;
  // Every record the reader reads, read anew from the version of the file the object was
  // opened on (the shared header keeps only its map), and the layout the header gives:
  // storage format, byte order, sample type and size, header blocks, counted records and
  // the byte where the samples start.
  IDL::HeaderReading* get_header_reading() override;

protected:
  // One entry per channel the resolver would serve (CResolverImpl::mfReference), in
  // channel order.
  IDL::BrowsableStructSeq* mfCreateAllChildren() override;
  // Adds the file annotations once, then runs the base's hook.
  void mpFillAnnotationContainer() override;

private:
  // The entries of channels [first, end) (from 1) that the resolver would serve; with `functions`,
  // also their annotations and function descriptions. REQUIRES: end - first fits one reply.
  void mpListChannels(CORBA::ULong first, CORBA::ULong end, IDL::BrowsableStructSeq& children,
                      IDL::AnnotationSeqSeq* annotations, IDL::FunctionExtendedStructSeq* functions);
  // The one exception of both listings, whatever failed; logged first.
  [[noreturn]] static void sfRaiseListingFailure();

  bool mAnnotationsFilled = false;  // guarded by the base's fill serialisation
  CRPC3HeaderLease mHeader;         // the file's shared header, held for the servant's life
};

// The file annotations of a header: storage format, creator, file and time type, bypass
// filter, channels, date, delta t, half frames, the parent files PARENT_1 ... (up to the
// first absent or empty one, at most 109), frames, header blocks, parameters, points per
// frame and group, repeats. New; the caller owns it.
IDL::AnnotationSeq* getFileAnnotations(const CRPC3Header& header);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
