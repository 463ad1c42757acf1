#include "dds.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "byte_reader.h"

namespace pelt {

namespace {

// The fields pelt reads of the surface description, the 124 bytes after the magic (every field
// 32 bits little-endian): the height at offset 8, the width at 12 and the pixel format's FourCC
// at 80. Nothing else in it is read.
struct SurfaceDescription {
  std::uint32_t height = 0, width = 0;
  std::uint32_t fourcc = 0;
};
constexpr std::size_t kDdsMagicSize = 4;
static_assert(kDdsHeaderSize == kDdsMagicSize + 124);

// `desc`: the description's 124 bytes.
SurfaceDescription ReadSurfaceDescription(std::span<const std::uint8_t, 124> desc) {
  SurfaceDescription d;
  d.height = LoadU32(desc.data() + 8);
  d.width = LoadU32(desc.data() + 12);
  d.fourcc = LoadU32(desc.data() + 80);
  return d;
}

// FourCC codes: four ASCII characters in file order, read as a little-endian word.
constexpr std::uint32_t kFourCCDxt1 = 0x31545844;  // "DXT1"
constexpr std::uint32_t kFourCCDxt3 = 0x33545844;  // "DXT3"
constexpr std::uint32_t kFourCCDxt5 = 0x35545844;  // "DXT5"

// The largest side a surface may have: a TGA header holds each side in 16 bits.
constexpr std::uint32_t kMaxSurfaceSide = 65535;

// A FourCC as its four characters in quotes when they are all printable, otherwise in hex.
std::string FourCCText(std::uint32_t code) {
  char text[16] = {'"'};
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(code >> (8 * i));
    if (c < 0x20 || c > 0x7E) {
      std::snprintf(text, sizeof text, "0x%08X", code);
      return text;
    }
    text[1 + i] = static_cast<char>(c);
  }
  text[5] = '"';
  return std::string(text, 6);
}

// ceil(pixels / 4), without the overflow of (pixels + 3) / 4.
std::uint32_t BlocksAcross(std::uint32_t pixels) { return pixels / 4 + (pixels % 4 != 0 ? 1 : 0); }

}  // namespace

Result<DdsSurface> CheckDdsEntry(std::span<const std::uint8_t> head, std::uint64_t entry_size) {
  if (entry_size < kDdsHeaderSize || head.size() < kDdsHeaderSize) {
    return Status::Corrupt(
        "DDS entry is " + std::to_string(std::min<std::uint64_t>(entry_size, head.size())) +
        " bytes, shorter than its " + std::to_string(kDdsHeaderSize) + "-byte header");
  }
  // The magic (the first 4 bytes) is never compared.
  const SurfaceDescription desc = ReadSurfaceDescription(head.subspan(kDdsMagicSize).first<124>());
  DdsSurface s;
  switch (desc.fourcc) {
    case kFourCCDxt1:
      s.format = DxtFormat::kDxt1;
      break;
    case kFourCCDxt3:
      s.format = DxtFormat::kDxt3;
      break;
    case kFourCCDxt5:
      s.format = DxtFormat::kDxt5;
      break;
    default:
      return Status::Unsupported("unsupported format " + FourCCText(desc.fourcc));
  }
  s.width = desc.width;
  s.height = desc.height;
  if (s.width == 0 || s.height == 0 || s.width > kMaxSurfaceSide || s.height > kMaxSurfaceSide) {
    return Status::Corrupt("surface is " + std::to_string(s.width) + "x" +
                           std::to_string(s.height) + "; width and height must be 1 to " +
                           std::to_string(kMaxSurfaceSide));
  }
  s.xblocks = BlocksAcross(s.width);
  s.yblocks = BlocksAcross(s.height);
  // At most 16384 x 16384 blocks of 16 bytes: no overflow in 64 bits.
  s.block_bytes = std::uint64_t{s.xblocks} * s.yblocks * BlockSize(s.format);
  const std::uint64_t data_size = entry_size - kDdsHeaderSize;
  if (data_size < s.block_bytes) {
    return Status::Corrupt("block data is " + std::to_string(data_size) + " bytes; a " +
                           std::to_string(s.width) + "x" + std::to_string(s.height) + " " +
                           FormatName(s.format) + " surface needs " +
                           std::to_string(s.block_bytes));
  }
  return s;
}

}  // namespace pelt
