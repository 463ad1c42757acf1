// The uncompressed 32-bit Targa image pelt writes for a decoded surface: an 18-byte header, then
// width x height pixels of blue, green, red, alpha, top row first, with no footer.
#pragma once

#include <array>
#include <cstdint>

namespace pelt {

struct TgaHeader {
  std::uint8_t id_length = 0;   // no image ID
  std::uint8_t map_type = 0;    // no colour map
  std::uint8_t image_type = 2;  // uncompressed true-colour
  std::uint16_t map_first = 0;
  std::uint16_t map_length = 0;
  std::uint8_t map_depth = 0;
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint8_t depth = 32;         // bits per pixel
  std::uint8_t descriptor = 0x2F;  // origin and attribute bits
};
inline constexpr std::size_t kTgaHeaderSize = 18;

// The image descriptor pelt writes by default: top-left origin (0x20) and 15 in the attribute
// bits. Strict readers want the true count of alpha bits, 8: kTgaDescriptorStrict.
inline constexpr std::uint8_t kTgaDescriptor = 0x2F;
inline constexpr std::uint8_t kTgaDescriptorStrict = 0x28;

// The header of a width x height image (both 1 to 65535).
TgaHeader MakeTgaHeader(std::uint16_t width, std::uint16_t height,
                        std::uint8_t descriptor = kTgaDescriptor);
// The header's 18 bytes, multi-byte fields little-endian.
std::array<std::uint8_t, kTgaHeaderSize> EncodeTgaHeader(const TgaHeader& h);

}  // namespace pelt
