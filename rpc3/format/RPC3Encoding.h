// The two encodings a header names for its samples, their width and byte order, and their keyword texts.
#pragma once

namespace TamblixHq::NODRA::Drivers::RPC3 {

// Width of one stored sample, from "DATA_TYPE".
enum eFrameDataType {
  eShortInteger = 0,  // 2-byte two's complement integers
  eFloatingPoint = 1  // 4-byte IEEE-754 single precision
};

// Storage format, from "FORMAT". Only eBinaryIeeeBigEnd changes how samples are read
// (big-endian); every other format reads as little-endian binary.
enum eStorageFormat {
  eAscii = 0,
  eBinary = 1,
  eBinaryIeeeLittleEnd = 2,
  eBinaryIeeeBigEnd = 3
};

// The keyword texts of the enumerations, as headers write them.
inline const char* dataTypeName(eFrameDataType type) {
  return type == eShortInteger ? "SHORT_INTEGER" : "FLOATING_POINT";
}
inline const char* storageFormatName(eStorageFormat format) {
  static const char* const names[] = {"ASCII", "BINARY", "BINARY_IEEE_LITTLE_END", "BINARY_IEEE_BIG_END"};
  return names[format];
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
