#include "rpc3/format/CRPC3Header.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <ace/Guard_T.h>

#include "host/files/CBinaryFilePtrConnID.h"
#include "host/files/CFilePtrConnGuard.h"
#include "host/utility/CFileU.h"
#include "host/utility/CLoggerU.h"
#include "nodra/Framework.hh"
#include "rpc3/format/RPC3HeaderRecords.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace {

constexpr std::size_t kBuckets = 1024;

}  // namespace

CRPC3Header::CRPC3Header(const Framework::CConfinedFileId& file) : mMap(1), mLock() {
  bool read = false;
  try {
    read = mfReadRecords(file);
  } catch (...) {
    read = false;
  }
  // mMap and mLock are destroyed with the partly built object; the map's destructor frees
  // whatever was inserted.
  if (!read) {
    // The log names the file by its whole path; the exception as clients may be shown it.
    if (file.mfGetShownKey().mfCompare(file.mfGetKey()) != 0) {
      Utility::CLoggerU::sfGetLoggerU(0)->mpPrintText("RPC3 header <" + file.mfGetKey().mfStd() + "> cannot be read",
                                                      Utility::CLoggerU::kDetail);
    }
    sfRaiseUnreadable(file.mfGetShownKey(), mFailure);
  }
}

CRPC3Header::CRPC3Header(const Utility::CStringU& path)
    : CRPC3Header(Framework::CConfinedFileId::sfFromKey(path)) {}

CRPC3Header::CRPC3Header(Utility::CFileU& file, const Utility::CStringU& path)
    : mMap(1), mLock() {
  bool read = false;
  try {
    read = mfReadRecords(file);
  } catch (...) {
    read = false;
  }
  if (!read) sfRaiseUnreadable(path, mFailure);
}

void CRPC3Header::sfRaiseUnreadable(const Utility::CStringU& path, const std::string& why) {
  if (!why.empty()) {
    Utility::CLoggerU::sfGetLoggerU(0)->mpPrintText("RPC3 header <" + path.mfStd() + ">: " + why,
                                                    Utility::CLoggerU::kDetail);
  }
  Utility::CStringU message("Unable to read RPC3 header for <");
  message.mfAddString(path).mfAddString(">");
  const ::TAMBLIX::NODRA::Framework::DBAccessException error(
      message.mfGetString(), "Initialisation of RPC3Header map failed", "CRPC3Header::CRPC3Header");
  Utility::CLoggerU::sfGetLoggerU(0)->mpPrint(error, Utility::CLoggerU::kDetail, 1);
  throw error;
}

CRPC3Header::~CRPC3Header() {
  {
    ACE_Write_Guard<ACE_RW_Thread_Mutex> lock(mLock);
    mMap.unbind_all();
  }
  mMap.close();
}

bool CRPC3Header::mfReadRecords(const Framework::CConfinedFileId& identity) {
  const Framework::CBinaryFilePtrConnID connection(identity);
  const Framework::CFilePtrConnGuard guard(connection);
  Utility::CFileU* file = guard.mfFilePtr();
  if (file == nullptr) {
    Utility::CLoggerU::sfGetLoggerU(0)->mpPrintText(
        std::string("RPC3 header: cannot open <") + identity.mfGetKey().mfStd() + ">: " + guard.mfGetError(),
        Utility::CLoggerU::kDetail);
    return false;
  }
  mVersion = file->mfGetSource().mfGetVersion();
  return mfReadRecords(*file);
}

bool CRPC3Header::mfReadRecords(Utility::CFileU& file) {
  // The records are gathered first, so that the map gets as many buckets as they ask for:
  // with a fixed number, a header of many records would read in quadratic time.
  std::vector<std::pair<std::string, std::string>> records;
  const auto keep = [&records](std::int64_t, std::string_view keyword, std::string_view value) {
    records.emplace_back(keyword, value);
    return true;
  };
  const std::optional<std::int64_t> counted = readHeaderRecords(file, keep, &mFailure);
  if (!counted) return false;
  const std::size_t buckets = std::max(kBuckets, records.size());
  ACE_Write_Guard<ACE_RW_Thread_Mutex> lock(mLock);
  if (!lock.locked() || mMap.open(buckets) != 0) return false;
  std::size_t bytes = buckets * sizeof(KeywordMap::ENTRY);
  for (const auto& [keywordText, valueText] : records) {
    const ACE_String_Base<char> keyword(keywordText.data(), keywordText.size());
    const ACE_String_Base<char> value(valueText.data(), valueText.size());
    // bind() leaves an existing keyword untouched: the first occurrence wins.
    if (mMap.bind(keyword, value) == 0) bytes += sizeof(KeywordMap::ENTRY) + keywordText.size() + valueText.size() + 2;
  }
  mCountedRecords = *counted;
  mMemoryBytes = bytes;
  return true;
}

bool CRPC3Header::mfFindValue(const Utility::CStringU& keyword, Utility::CStringU& value) const {
  Utility::CStringU trimmed(keyword);
  trimmed.mfRemoveBlanks(5);
  // A non-owning view of the trimmed text: lookups allocate nothing for the key.
  const ACE_String_Base<char> key(trimmed.mfGetString(), trimmed.mfGetLength(), nullptr, false);
  ACE_Read_Guard<ACE_RW_Thread_Mutex> lock(mLock);
  if (!lock.locked()) {
    return false;
  }
  ACE_Hash_Map_Entry<ACE_String_Base<char>, ACE_String_Base<char>>* entry = nullptr;
  if (mMap.find(key, entry) != 0 || entry == nullptr) {
    return false;
  }
  value = Utility::CStringU(entry->int_id_.fast_rep(), entry->int_id_.length());
  return true;
}

Utility::CStringU CRPC3Header::mfGetKeywordValue(const Utility::CStringU& keyword) const {
  Utility::CStringU value;
  if (!mfFindValue(keyword, value)) {
    return Utility::CStringU();
  }
  return value;
}

eFrameDataType CRPC3Header::mfGetDataType() const {
  Utility::CStringU value;
  if (!mfFindValue(Utility::CStringU("DATA_TYPE"), value) || value.mfICompare("short_integer") == 0) {
    return eShortInteger;
  }
  return eFloatingPoint;
}

eStorageFormat CRPC3Header::mfGetStorageFormat() const {
  Utility::CStringU value;
  if (!mfFindValue(Utility::CStringU("FORMAT"), value)) {
    return eBinary;
  }
  if (value.mfICompare("ascii") == 0) {
    return eAscii;
  }
  if (value.mfICompare("binary") == 0) {
    return eBinary;
  }
  if (value.mfICompare("binary_ieee_little_end") == 0) {
    return eBinaryIeeeLittleEnd;
  }
  if (value.mfICompare("binary_ieee_big_end") == 0) {
    return eBinaryIeeeBigEnd;
  }
  return eBinary;
}

std::size_t CRPC3Header::mfGetNumberOfEntries() const {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> lock(mLock);
  return lock.locked() ? mMap.current_size() : 0;
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
