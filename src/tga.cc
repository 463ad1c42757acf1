#include "tga.h"

namespace pelt {

TGAHeader MakeTgaHeader(std::uint16_t width, std::uint16_t height, std::uint8_t descriptor) {
  TGAHeader h;
  h.width = static_cast<std::int16_t>(width);
  h.height = static_cast<std::int16_t>(height);
  h.descriptor = descriptor;
  return h;
}

std::array<std::uint8_t, kTgaHeaderSize> EncodeTgaHeader(const TGAHeader& h) {
  std::array<std::uint8_t, kTgaHeaderSize> out{};
  auto put16 = [&out](std::size_t at, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    out[at] = static_cast<std::uint8_t>(u);
    out[at + 1] = static_cast<std::uint8_t>(u >> 8);
  };
  out[0] = h.id_len;
  out[1] = h.map_t;
  out[2] = h.img_t;
  put16(3, h.map_first);
  put16(5, h.map_len);
  out[7] = h.map_entry;
  put16(8, h.x);
  put16(10, h.y);
  put16(12, h.width);
  put16(14, h.height);
  out[16] = h.depth;
  out[17] = h.descriptor;
  return out;
}

}  // namespace pelt
