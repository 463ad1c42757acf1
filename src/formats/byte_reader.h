// Little-endian decoding of a field at a known position of a buffer whose size the caller has
// checked: the formats store every number little-endian, and nothing is read by casting bytes to
// a record.
#pragma once

#include <cstdint>

namespace pelt {

inline std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

}  // namespace pelt
