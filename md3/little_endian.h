// Both file formats store signed 32-bit integers little-endian. These
// helpers work byte by byte so the result does not depend on the host.
#ifndef TAGBATCH_MD3_LITTLE_ENDIAN_H_
#define TAGBATCH_MD3_LITTLE_ENDIAN_H_

#include <cstdint>

// Returns the signed 32-bit integer stored little-endian at `bytes`.
inline int32_t DecodeInt32(const uint8_t* bytes) {
  uint32_t value = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 |
                   uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
  return static_cast<int32_t>(value);
}

// Stores `value` little-endian in the four bytes at `bytes`.
inline void EncodeInt32(int32_t value, uint8_t* bytes) {
  uint32_t bits = static_cast<uint32_t>(value);
  bytes[0] = static_cast<uint8_t>(bits);
  bytes[1] = static_cast<uint8_t>(bits >> 8);
  bytes[2] = static_cast<uint8_t>(bits >> 16);
  bytes[3] = static_cast<uint8_t>(bits >> 24);
}

#endif  // TAGBATCH_MD3_LITTLE_ENDIAN_H_
