// The parsed header of one RPC III file: a read-only keyword-to-value map, filled once by the
// constructor, with typed lookups of the sample width and byte order. After construction any
// number of threads may look keywords up concurrently (lookups share a reader lock).
// Record layout and the record count rule: doc/rpc3-format.md.

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <ace/Hash_Map_Manager_T.h>
#include <ace/Null_Mutex.h>

#include <ace/RW_Thread_Mutex.h>
#include <ace/SString.h>

#include "host/files/CConfinedFileId.h"
#include "host/utility/CFileVersionU.h"
#include "host/utility/CStringU.h"
#include "rpc3/format/RPC3Encoding.h"

namespace TamblixHq::NODRA::Utility {
class CFileU;
}

namespace TamblixHq::NODRA::Drivers::RPC3 {

class CRPC3Header {
public:
  // Reads the header records of a file. Throws TAMBLIX::NODRA::Framework::DBAccessException,
  // already logged and naming the file's key, when the file is refused, cannot be opened or
  // ends before the last record the header announces.
  explicit CRPC3Header(const Framework::CConfinedFileId& file);
  // The same for the file whose key is `path` (see CConfinedFileId::mfGetKey).
  explicit CRPC3Header(const Utility::CStringU& path);
  // Reads the header records from an open file positioned at its start (tests and fuzzing
  // read from memory this way); `path` only names the file in the failure message.
  CRPC3Header(Utility::CFileU& file, const Utility::CStringU& path);
  ~CRPC3Header();

  CRPC3Header(const CRPC3Header&) = delete;
  CRPC3Header& operator=(const CRPC3Header&) = delete;

  // Value text of `keyword` (blanks and tabs around it ignored; case-sensitive), exactly as
  // stored; "" when the keyword is absent.
  Utility::CStringU mfGetKeywordValue(const Utility::CStringU& keyword) const;

  // "DATA_TYPE": absent or "short_integer" (any case) -> eShortInteger; any other text,
  // including an empty one -> eFloatingPoint.
  eFrameDataType mfGetDataType() const;

  // "FORMAT", whole text compared ignoring case; unknown text or an absent keyword -> eBinary.
  eStorageFormat mfGetStorageFormat() const;

  // Number of distinct keywords read, the empty keyword of padding records included
  // (diagnostics and tests).
  std::size_t mfGetNumberOfEntries() const;

  // The version of the file the header was read from; nullopt when it was not read from a
  // file (memory) or the version could not be learnt. Samples may be decoded with this
  // header only from that version.
  const std::optional<Utility::CFileVersionU>& mfGetVersion() const { return mVersion; }

  // Records the header counts (records 0 to NUM_PARAMS - 1, never fewer than the first
  // three): the ones its blocks must hold. The reader reads one more, which may lie in the
  // sample data (doc/rpc3-format.md).
  std::int64_t mfGetCountedRecords() const { return mCountedRecords; }

  // What the header's map takes in memory: its buckets, its entries and their texts.
  std::size_t mfGetMemoryBytes() const { return mMemoryBytes; }

private:
  using KeywordMap = ACE_Hash_Map_Manager_Ex<ACE_String_Base<char>, ACE_String_Base<char>,
                                             ACE_Hash<ACE_String_Base<char>>,
                                             ACE_Equal_To<ACE_String_Base<char>>, ACE_Null_Mutex>;

  // Reads the records into mMap; false when a record cannot be read whole or the file cannot
  // be opened. REQUIRES: called once, from the constructor.
  bool mfReadRecords(const Framework::CConfinedFileId& file);
  bool mfReadRecords(Utility::CFileU& file);
  // Raises the header's DBAccessException for `path`, logged first, after a line saying
  // `why` when it is not empty.
  [[noreturn]] static void sfRaiseUnreadable(const Utility::CStringU& path, const std::string& why);

  // Stored value of `keyword` (trimmed as in mfGetKeywordValue) into `value`; false when the
  // keyword is absent or the reader lock cannot be taken.
  bool mfFindValue(const Utility::CStringU& keyword, Utility::CStringU& value) const;

  // The map is written only by the constructor (writer lock) and cleared by the destructor
  // (writer lock); lookups hold the reader side of mLock.
  KeywordMap mMap;
  mutable ACE_RW_Thread_Mutex mLock;
  std::optional<Utility::CFileVersionU> mVersion;  // set while reading, then constant
  std::int64_t mCountedRecords = 0;                // set while reading, then constant
  std::size_t mMemoryBytes = 0;                    // set while reading, then constant
  std::string mFailure;                            // why reading failed, while constructing
};

}  // namespace TamblixHq::NODRA::Drivers::RPC3
