#include "tga.h"

namespace pelt {

TgaHeader MakeTgaHeader(std::uint16_t width, std::uint16_t height, std::uint8_t descriptor) {
  TgaHeader h;
  h.width = width;
  h.height = height;
  h.descriptor = descriptor;
  return h;
}

std::array<std::uint8_t, kTgaHeaderSize> EncodeTgaHeader(const TgaHeader& h) {
  std::array<std::uint8_t, kTgaHeaderSize> out{};
  auto put16 = [&out](std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  out[0] = h.id_length;
  out[1] = h.map_type;
  out[2] = h.image_type;
  put16(3, h.map_first);
  put16(5, h.map_length);
  out[7] = h.map_depth;
  put16(8, h.x);
  put16(10, h.y);
  put16(12, h.width);
  put16(14, h.height);
  out[16] = h.depth;
  out[17] = h.descriptor;
  return out;
}

}  // namespace pelt
