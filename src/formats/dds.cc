#include "dds.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string>

#include "byte_reader.h"

namespace pelt {

namespace {

// The fields pelt reads of the surface description, the 124 bytes after the magic (every field
// 32 bits little-endian): the height at offset 8, the width at 12, and of the pixel format at 76
// its flags, FourCC, bit count and the red, green, blue and alpha masks. Nothing else in it is
// read: writers put wrong pitches, mipmap counts and caps there.
struct SurfaceDescription {
  std::uint32_t height = 0, width = 0;
  std::uint32_t flags = 0, fourcc = 0, bits = 0;
  std::uint32_t red = 0, green = 0, blue = 0, alpha = 0;
};
constexpr std::size_t kDdsMagicSize = 4;
static_assert(kDdsHeaderSize == kDdsMagicSize + 124);

// `desc`: the description's 124 bytes.
SurfaceDescription ReadSurfaceDescription(std::span<const std::uint8_t, 124> desc) {
  SurfaceDescription d;
  d.height = LoadU32(desc.data() + 8);
  d.width = LoadU32(desc.data() + 12);
  d.flags = LoadU32(desc.data() + 76);
  d.fourcc = LoadU32(desc.data() + 80);
  d.bits = LoadU32(desc.data() + 84);
  d.red = LoadU32(desc.data() + 88);
  d.green = LoadU32(desc.data() + 92);
  d.blue = LoadU32(desc.data() + 96);
  d.alpha = LoadU32(desc.data() + 100);
  return d;
}

// FourCC codes: four ASCII characters in file order, read as a little-endian word.
constexpr std::uint32_t FourCC(const char (&c)[5]) {
  return std::uint32_t{static_cast<unsigned char>(c[0])} |
         std::uint32_t{static_cast<unsigned char>(c[1])} << 8 |
         std::uint32_t{static_cast<unsigned char>(c[2])} << 16 |
         std::uint32_t{static_cast<unsigned char>(c[3])} << 24;
}

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

// ceil(pixels / side), without the overflow of (pixels + side - 1) / side.
std::uint32_t BlocksAcross(std::uint32_t pixels, std::uint32_t side) {
  return pixels / side + (pixels % side != 0 ? 1 : 0);
}

// The pixel format's flags that say which masks hold.
constexpr std::uint32_t kAlphaPixels = 0x1;  // the alpha mask, beside colour or luminance
constexpr std::uint32_t kAlphaOnly = 0x2;    // the alpha mask, alone
constexpr std::uint32_t kRgb = 0x40;
constexpr std::uint32_t kLuminance = 0x20000;

// The pixel formats a FourCC may name by their Direct3D format number, and the names listings
// give them; a FourCC 0 format whose masks are a row's takes its name. Luminance rows give red,
// green and blue the one luminance mask.
struct MaskRow {
  std::uint32_t number;
  const char* name;
  PixelMasks masks;
};
constexpr std::uint32_t kL8 = 0xFF, kL16 = 0xFFFF;
constexpr MaskRow kMaskRows[] = {
    {20, "R8G8B8", {3, 0xFF0000, 0xFF00, 0xFF, 0}},
    {21, "A8R8G8B8", {4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
    {22, "X8R8G8B8", {4, 0xFF0000, 0xFF00, 0xFF, 0}},
    {23, "R5G6B5", {2, 0xF800, 0x7E0, 0x1F, 0}},
    {24, "X1R5G5B5", {2, 0x7C00, 0x3E0, 0x1F, 0}},
    {25, "A1R5G5B5", {2, 0x7C00, 0x3E0, 0x1F, 0x8000}},
    {26, "A4R4G4B4", {2, 0xF00, 0xF0, 0xF, 0xF000}},
    {27, "R3G3B2", {1, 0xE0, 0x1C, 0x3, 0}},
    {28, "A8", {1, 0, 0, 0, 0xFF}},
    {29, "A8R3G3B2", {2, 0xE0, 0x1C, 0x3, 0xFF00}},
    {30, "X4R4G4B4", {2, 0xF00, 0xF0, 0xF, 0}},
    {31, "A2B10G10R10", {4, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000}},
    {32, "A8B8G8R8", {4, 0xFF, 0xFF00, 0xFF0000, 0xFF000000}},
    {33, "X8B8G8R8", {4, 0xFF, 0xFF00, 0xFF0000, 0}},
    {34, "G16R16", {4, 0xFFFF, 0xFFFF0000, 0, 0}},
    {35, "A2R10G10B10", {4, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}},
    {50, "L8", {1, kL8, kL8, kL8, 0}},
    {51, "A8L8", {2, kL8, kL8, kL8, 0xFF00}},
    {52, "A4L4", {1, 0xF, 0xF, 0xF, 0xF0}},
    {81, "L16", {2, kL16, kL16, kL16, 0}},
};

// One run of 1 bits within the pixel's `bits` bits (or 0).
bool FitsAsField(std::uint32_t mask, std::uint32_t bits) {
  const std::uint32_t run = mask >> std::countr_zero(mask | 0x80000000u);
  return (run & (run + 1)) == 0 && (bits == 32 || mask >> bits == 0);
}

std::string Hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

constexpr const char kKeepRaw[] = " (--raw keeps the entry as stored)";

// The format of a FourCC 0 entry from its flags, bit count and masks, or why pelt cannot
// decode it.
Result<DdsSurface> MaskedFormat(const SurfaceDescription& d) {
  DdsSurface s;
  s.format = DdsFormat::kMasks;
  const bool alpha = (d.flags & (kAlphaPixels | kAlphaOnly)) != 0;
  std::string kind;
  if (d.flags & kRgb) {
    s.masks = {d.bits / 8, d.red, d.green, d.blue, 0};
    kind = "RGB";
  } else if (d.flags & kLuminance) {
    s.masks = {d.bits / 8, d.red, d.red, d.red, 0};
    kind = "L";
  } else if (alpha) {
    s.masks = {d.bits / 8, 0, 0, 0, 0};
  }
  if (alpha) {
    s.masks.alpha = d.alpha;
    kind += d.alpha != 0 ? "A" : "";
  }
  const PixelMasks& m = s.masks;
  const bool fits = (d.bits == 8 || d.bits == 16 || d.bits == 24 || d.bits == 32) &&
                    (m.red | m.green | m.blue | m.alpha) != 0 && FitsAsField(m.red, d.bits) &&
                    FitsAsField(m.green, d.bits) && FitsAsField(m.blue, d.bits) &&
                    FitsAsField(m.alpha, d.bits);
  if (!fits) {
    return Status::Unsupported("unsupported format: flags " + Hex(d.flags) + ", " +
                               std::to_string(d.bits) + " bits, masks " + Hex(d.red) + " " +
                               Hex(d.green) + " " + Hex(d.blue) + " " + Hex(d.alpha) + kKeepRaw);
  }
  s.name = kind + std::to_string(d.bits);
  for (const MaskRow& row : kMaskRows) {
    if (row.masks == m) s.name = row.name;
  }
  return s;
}

// The format of the entry `d` describes, or why pelt cannot decode it.
Result<DdsSurface> FormatOf(const SurfaceDescription& d) {
  DdsSurface s;
  switch (d.fourcc) {
    case FourCC("DXT1"):
      s.format = DdsFormat::kDxt1;
      break;
    case FourCC("DXT2"):
      s.format = DdsFormat::kDxt2;
      break;
    case FourCC("DXT3"):
      s.format = DdsFormat::kDxt3;
      break;
    case FourCC("DXT4"):
      s.format = DdsFormat::kDxt4;
      break;
    case FourCC("DXT5"):
      s.format = DdsFormat::kDxt5;
      break;
    case FourCC("ATI1"):
    case FourCC("BC4U"):
      s.format = DdsFormat::kAti1;
      break;
    case FourCC("ATI2"):
    case FourCC("BC5U"):
      s.format = DdsFormat::kAti2;
      break;
    case 0:
      return MaskedFormat(d);
    default:
      for (const MaskRow& row : kMaskRows) {
        if (row.number == d.fourcc) {
          s.format = DdsFormat::kMasks;
          s.masks = row.masks;
          s.name = row.name;
          return s;
        }
      }
      return Status::Unsupported("unsupported format " + FourCCText(d.fourcc) + kKeepRaw);
  }
  s.name = RowOf(s.format).name;
  return s;
}

}  // namespace

Result<DdsSurface> CheckDdsEntry(std::span<const std::uint8_t> head, std::uint64_t entry_size) {
  if (entry_size < kDdsHeaderSize || head.size() < kDdsHeaderSize) {
    return Status::Corrupt(
        "DDS entry is " + std::to_string(std::min<std::uint64_t>(entry_size, head.size())) +
        " bytes, shorter than its " + std::to_string(kDdsHeaderSize) + "-byte header");
  }
  // The magic (the first 4 bytes) is never compared.
  const SurfaceDescription desc = ReadSurfaceDescription(head.subspan(kDdsMagicSize).first<124>());
  Result<DdsSurface> format = FormatOf(desc);
  if (!format.ok()) return format;
  DdsSurface s = std::move(*format);
  s.width = desc.width;
  s.height = desc.height;
  if (s.width == 0 || s.height == 0 || s.width > kMaxSurfaceSide || s.height > kMaxSurfaceSide) {
    return Status::Corrupt("surface is " + std::to_string(s.width) + "x" +
                           std::to_string(s.height) + "; width and height must be 1 to " +
                           std::to_string(kMaxSurfaceSide));
  }
  const FormatRow row = RowOf(s.format);
  s.block_side = row.block_side;
  s.block_size = row.block_bytes != 0 ? row.block_bytes : s.masks.bytes;
  s.xblocks = BlocksAcross(s.width, s.block_side);
  s.yblocks = BlocksAcross(s.height, s.block_side);
  // At most 65535 x 65535 blocks of 4 bytes or 16384 x 16384 of 16: no overflow in 64 bits.
  s.block_bytes = std::uint64_t{s.xblocks} * s.yblocks * s.block_size;
  const std::uint64_t data_size = entry_size - kDdsHeaderSize;
  if (data_size < s.block_bytes) {
    return Status::Corrupt((s.block_side == 1 ? "pixel data is " : "block data is ") +
                           std::to_string(data_size) + " bytes; a " + std::to_string(s.width) +
                           "x" + std::to_string(s.height) + " " + s.name + " surface needs " +
                           std::to_string(s.block_bytes));
  }
  return s;
}

}  // namespace pelt
