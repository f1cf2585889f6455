#pragma once
// Explicit little-endian encoding of on-disk fields. Never memcpy a struct to
// disk: these helpers fix the byte order whatever the host's.
#include <bit>
#include <cstdint>
#include <cstring>

namespace simdex {

inline void EncodeFixed16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline std::uint16_t DecodeFixed16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
// On little-endian hosts the byte order is the host's, and a memcpy lets the
// compiler emit one load or store; elsewhere the bytes are placed one by one.
inline void EncodeFixed32(unsigned char* p, std::uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &v, 4);
  } else {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
  }
}
inline std::uint32_t DecodeFixed32(const unsigned char* p) {
  std::uint32_t v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, 4);
  } else {
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{p[i]} << (8 * i);
  }
  return v;
}
inline void EncodeFixed64(unsigned char* p, std::uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &v, 8);
  } else {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
  }
}
inline std::uint64_t DecodeFixed64(const unsigned char* p) {
  std::uint64_t v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, 8);
  } else {
    for (int i = 0; i < 8; ++i) v |= std::uint64_t{p[i]} << (8 * i);
  }
  return v;
}
inline void EncodeInt32(unsigned char* p, std::int32_t v) {
  EncodeFixed32(p, static_cast<std::uint32_t>(v));
}
inline std::int32_t DecodeInt32(const unsigned char* p) {
  return static_cast<std::int32_t>(DecodeFixed32(p));
}
inline void EncodeDouble(unsigned char* p, double v) {
  EncodeFixed64(p, std::bit_cast<std::uint64_t>(v));
}
inline double DecodeDouble(const unsigned char* p) {
  return std::bit_cast<double>(DecodeFixed64(p));
}

}  // namespace simdex
