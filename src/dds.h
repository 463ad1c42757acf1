// DDS entries compressed with DXT1, DXT3 or DXT5: the block and pixel records, the block
// decoders, the surface decoders and the checks that stand in front of them.
//
// A DDS entry is a 4-byte magic (never compared), a 124-byte surface description and block data.
// A surface has ceil(width / 4) x ceil(height / 4) blocks, rows of blocks from the top, blocks
// left to right; blocks on the right and bottom edges are clipped to the surface. Anything after
// the top-level surface's blocks (smaller mipmap levels) is ignored.
//
// Decoded pixels are written straight in the TGA's byte order, blue, green, red, alpha, so the
// writer needs no second pass: see BgraPixel. Colour values follow the format's arithmetic in
// this tool exactly: 5:6:5 expanded by shifting (no bit replication), interpolation with
// truncating division and no rounding bias.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "status.h"

namespace pelt {

// One pixel's channels.
struct Color8888 {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
  friend bool operator==(const Color8888&, const Color8888&) = default;
};

// A pixel as the decoders store it: a 32-bit word whose bytes in memory are blue, green, red,
// alpha (the TGA's order), that is a << 24 | r << 16 | g << 8 | b on a little-endian host.
using BgraPixel = std::uint32_t;
inline constexpr BgraPixel PackBgra(Color8888 c) {
  return BgraPixel{c.a} << 24 | BgraPixel{c.r} << 16 | BgraPixel{c.g} << 8 | BgraPixel{c.b};
}
inline constexpr Color8888 UnpackBgra(BgraPixel p) {
  return Color8888{static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                   static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 24)};
}
// ANDed with a pixel word, clears its alpha and keeps red, green and blue.
inline constexpr BgraPixel alphazero = 0x00FFFFFFu;

// The fields of a 5:6:5 colour word: blue in bits 0-4, green 5-10, red 11-15.
struct Color565 {
  std::uint8_t nBlue = 0, nGreen = 0, nRed = 0;
};
Color565 SplitColor565(std::uint16_t word);

// The colour half of every block: two 5:6:5 endpoints and sixteen 2-bit indices, row[0] being the
// top row of the tile and the leftmost pixel of a row in bits 0-1.
struct DXTColBlock {
  std::uint16_t col0 = 0, col1 = 0;
  std::array<std::uint8_t, 4> row{};
};
DXTColBlock ReadColBlock(const std::uint8_t* p);  // p: 8 bytes

// The alpha half of a DXT3 block: sixteen 4-bit alphas, row[r] bits 4n..4n+3 for pixel n.
struct DXTAlphaBlockExplicit {
  std::array<std::uint16_t, 4> row{};
};
DXTAlphaBlockExplicit ReadAlphaBlockExplicit(const std::uint8_t* p);  // p: 8 bytes

// The alpha half of a DXT5 block: two alpha endpoints and sixteen 3-bit indices in 48 bits.
struct DXTAlphaBlock3BitLinear {
  std::uint8_t alpha0 = 0, alpha1 = 0;
  std::array<std::uint8_t, 6> stuff{};
};
DXTAlphaBlock3BitLinear ReadAlphaBlock3BitLinear(const std::uint8_t* p);  // p: 8 bytes

// Which palette a colour half takes: a DXT1 block chooses by the order of its endpoint words
// (four colours when col0 > col1, otherwise three and a transparent entry); the colour half of a
// DXT3 or DXT5 block always takes four colours.
enum class PaletteMode { kByEndpoints, kFourColour };

// Fills the block's four palette entries.
void GetColorBlockColors(const DXTColBlock& block, PaletteMode mode, Color8888* col_0,
                         Color8888* col_1, Color8888* col_2, Color8888* col_3);
// Writes the 16 pixels of the tile whose top-left pixel is pImPos; `stride` is the buffer's row
// length in pixels. Pixels outside the tile are not touched.
void DecodeColorBlock(BgraPixel* pImPos, const DXTColBlock& block, std::size_t stride,
                      const Color8888& col_0, const Color8888& col_1, const Color8888& col_2,
                      const Color8888& col_3);
// Replace the alpha of the tile's 16 pixels (already written by DecodeColorBlock): each pixel is
// ANDed with `mask` (alphazero) and the alpha is ORed in.
void DecodeAlphaExplicit(BgraPixel* pImPos, const DXTAlphaBlockExplicit& block, std::size_t stride,
                         BgraPixel mask);
void DecodeAlpha3BitLinear(BgraPixel* pImPos, const DXTAlphaBlock3BitLinear& block,
                           std::size_t stride, BgraPixel mask);
// The eight alphas a DXT5 alpha half's indices select.
std::array<std::uint8_t, 8> AlphaTable3BitLinear(std::uint8_t alpha0, std::uint8_t alpha1);

// The DirectDraw surface description, 124 bytes, every field 32 bits little-endian. Only
// dwHeight (offset 8), dwWidth (12) and ddpfPixelFormat.dwFourCC (80) are used.
struct DDCOLORKEY {
  std::uint32_t dwColorSpaceLowValue = 0, dwColorSpaceHighValue = 0;
};
struct DDPIXELFORMAT {
  std::uint32_t dwSize = 0, dwFlags = 0, dwFourCC = 0, dwRGBBitCount = 0, dwRBitMask = 0,
                dwGBitMask = 0, dwBBitMask = 0, dwRGBAlphaBitMask = 0;
};
struct DDSCAPS2 {
  std::uint32_t dwCaps = 0, dwCaps2 = 0, dwCaps3 = 0, dwCaps4 = 0;
};
struct DDSURFACEDESC2 {
  std::uint32_t dwSize = 0, dwFlags = 0, dwHeight = 0, dwWidth = 0, dwLinearSize = 0, dwDepth = 0,
                dwMipMapCount = 0, dwAlphaBitDepth = 0, dwReserved = 0, lpSurface = 0;
  DDCOLORKEY ddckCKDestOverlay, ddckCKDestBlt, ddckCKSrcOverlay, ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS2 ddsCaps;
  std::uint32_t dwTextureStage = 0;
};
inline constexpr std::size_t kDdsSurfaceDescSize = 124;
inline constexpr std::size_t kDdsMagicSize = 4;
inline constexpr std::size_t kDdsHeaderSize = kDdsMagicSize + kDdsSurfaceDescSize;  // 128
DDSURFACEDESC2 ReadSurfaceDesc(std::span<const std::uint8_t, kDdsSurfaceDescSize> bytes);

// FourCC codes: four ASCII characters in file order, read as a little-endian word.
inline constexpr std::uint32_t kFourCCDxt1 = 0x31545844;  // "DXT1"
inline constexpr std::uint32_t kFourCCDxt3 = 0x33545844;  // "DXT3"
inline constexpr std::uint32_t kFourCCDxt5 = 0x35545844;  // "DXT5"

enum class DxtFormat : std::uint8_t { kDxt1, kDxt3, kDxt5 };
// Bytes per 4 x 4 block: 8 for DXT1, 16 for DXT3 and DXT5.
constexpr std::uint32_t BlockSize(DxtFormat f) { return f == DxtFormat::kDxt1 ? 8 : 16; }
const char* FormatName(DxtFormat f);  // "DXT1", "DXT3", "DXT5"

// The largest side a surface may have: a TGA header holds each side in 16 bits.
inline constexpr std::uint32_t kMaxSurfaceSide = 65535;

// A surface that passed every check, with what decoding it needs.
struct DdsSurface {
  DxtFormat format = DxtFormat::kDxt1;
  std::uint32_t width = 0, height = 0;
  std::uint32_t xblocks = 0, yblocks = 0;  // ceil(width / 4), ceil(height / 4)
  std::uint64_t block_bytes = 0;           // xblocks x yblocks x BlockSize(format)
};

// Checks a surface description against `data_size`, the bytes of block data that follow it:
// a FourCC of DXT1, DXT3 or DXT5 (Unsupported otherwise, naming it), width and height 1 to 65535,
// and at least xblocks x yblocks x block size bytes of data (Corrupt otherwise).
Result<DdsSurface> CheckSurface(const DDSURFACEDESC2& ddsd, std::uint64_t data_size);
// Checks a whole DDS entry of `entry_size` bytes from its first bytes `head` (at least the first
// 128, or the whole entry when it is shorter): shorter than 128 bytes is Corrupt, then as above.
Result<DdsSurface> CheckDdsEntry(std::span<const std::uint8_t> head, std::uint64_t entry_size);

// Decodes `block_rows` rows of `xblocks` blocks each from `blocks` into `out`: 4 x block_rows
// pixel rows of `stride` pixels (stride >= 4 x xblocks), the whole of every block, no clipping.
// The plain portable path; see dxt_paths.h for the one the machine runs fastest.
void DecodeBlockRowsPortable(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                             std::uint32_t block_rows, BgraPixel* out, std::size_t stride);

// Whole-surface decoders: width x height pixels, row-major, top row first, edge blocks clipped,
// every pixel written. `s` must hold the surface's blocks (CheckSurface); when the size or the
// data fails those checks the result is empty, and nothing outside `s` is read.
std::vector<BgraPixel> DecompressDXT1(const DDSURFACEDESC2& ddsd, std::span<const std::uint8_t> s);
std::vector<BgraPixel> DecompressDXT3(const DDSURFACEDESC2& ddsd, std::span<const std::uint8_t> s);
std::vector<BgraPixel> DecompressDXT5(const DDSURFACEDESC2& ddsd, std::span<const std::uint8_t> s);
// Checks the surface and its data (CheckSurface) and dispatches by FourCC; the Status says which
// check failed.
Result<std::vector<BgraPixel>> Decompress(const DDSURFACEDESC2& ddsd,
                                          std::span<const std::uint8_t> s);

}  // namespace pelt
