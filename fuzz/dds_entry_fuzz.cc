// Fuzz target: one DDS entry from untrusted bytes, as the run treats it: the entry check, the
// surface decoders and the TGA image they make.
#include <cstdint>
#include <cstring>
#include <vector>

#include "dds.h"
#include "dxt_paths.h"
#include "fuzz_check.h"
#include "tga.h"

namespace {

using pelt::BgraPixel;
using pelt::DxtFormat;

// The surface decoded one block at a time through the block decoders, into a buffer of whole
// blocks (4 x xblocks pixels a row): the slow reference that the row decoders must equal.
std::vector<BgraPixel> DecodeByBlocks(const pelt::DdsSurface& s, const std::uint8_t* blocks) {
  const std::size_t stride = std::size_t{s.xblocks} * 4;
  std::vector<BgraPixel> out(stride * s.yblocks * 4);
  for (std::uint32_t by = 0; by < s.yblocks; ++by) {
    for (std::uint32_t bx = 0; bx < s.xblocks; ++bx, blocks += pelt::BlockSize(s.format)) {
      BgraPixel* at = &out[std::size_t{by} * 4 * stride + std::size_t{bx} * 4];
      const std::uint8_t* colour = s.format == DxtFormat::kDxt1 ? blocks : blocks + 8;
      const pelt::DXTColBlock cb = pelt::ReadColBlock(colour);
      pelt::Color8888 c0, c1, c2, c3;
      pelt::GetColorBlockColors(cb,
                                s.format == DxtFormat::kDxt1 ? pelt::PaletteMode::kByEndpoints
                                                             : pelt::PaletteMode::kFourColour,
                                &c0, &c1, &c2, &c3);
      pelt::DecodeColorBlock(at, cb, stride, c0, c1, c2, c3);
      if (s.format == DxtFormat::kDxt3)
        pelt::DecodeAlphaExplicit(at, pelt::ReadAlphaBlockExplicit(blocks), stride,
                                  pelt::alphazero);
      if (s.format == DxtFormat::kDxt5)
        pelt::DecodeAlpha3BitLinear(at, pelt::ReadAlphaBlock3BitLinear(blocks), stride,
                                    pelt::alphazero);
    }
  }
  return out;
}

// Whether `pixels` (width x height) is the top-left corner of `blocks` (stride pixels a row).
bool IsClippedFrom(const std::vector<BgraPixel>& pixels, const std::vector<BgraPixel>& blocks,
                   std::size_t stride, const pelt::DdsSurface& s) {
  for (std::size_t y = 0; y < s.height; ++y) {
    if (std::memcmp(&pixels[y * s.width], &blocks[y * stride], s.width * sizeof(BgraPixel)) != 0)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);  // exact size: ASan sees an over-read
  const std::span<const std::uint8_t> entry(bytes);
  auto checked = pelt::CheckDdsEntry(entry.first(std::min<std::size_t>(size, 128)), size);
  if (size < pelt::kDdsHeaderSize) {
    PELT_FUZZ_CHECK(!checked.ok() && checked.status().code() == pelt::Code::kCorrupt);
    return 0;
  }
  const pelt::DDSURFACEDESC2 ddsd = pelt::ReadSurfaceDesc(entry.subspan(4).first<124>());
  const auto blocks = entry.subspan(pelt::kDdsHeaderSize);
  auto pixels = pelt::Decompress(ddsd, blocks);
  // The check in front of the decoder and the decoder's own check agree.
  PELT_FUZZ_CHECK(pixels.ok() == checked.ok());
  if (!checked.ok()) {
    const pelt::Code code = checked.status().code();
    PELT_FUZZ_CHECK(code == pelt::Code::kCorrupt || code == pelt::Code::kUnsupported);
    PELT_FUZZ_CHECK(!checked.status().message().empty());
    return 0;
  }
  const pelt::DdsSurface& s = *checked;
  PELT_FUZZ_CHECK(s.width == ddsd.dwWidth && s.height == ddsd.dwHeight);
  PELT_FUZZ_CHECK(s.width >= 1 && s.width <= 65535 && s.height >= 1 && s.height <= 65535);
  PELT_FUZZ_CHECK(s.block_bytes <= blocks.size());
  PELT_FUZZ_CHECK(pixels->size() == std::size_t{s.width} * s.height);

  // Decoding is a function of the bytes: a second decode, the format's own decoder, every row
  // decoding path and the block-by-block reference all give the same pixels.
  auto again = pelt::Decompress(ddsd, blocks);
  PELT_FUZZ_CHECK(again.ok() && *again == *pixels);
  const std::vector<BgraPixel> direct =
      s.format == DxtFormat::kDxt1   ? pelt::DecompressDXT1(ddsd, blocks)
      : s.format == DxtFormat::kDxt3 ? pelt::DecompressDXT3(ddsd, blocks)
                                     : pelt::DecompressDXT5(ddsd, blocks);
  PELT_FUZZ_CHECK(direct == *pixels);
  const std::size_t stride = std::size_t{s.xblocks} * 4;
  const std::vector<BgraPixel> reference = DecodeByBlocks(s, blocks.data());
  PELT_FUZZ_CHECK(IsClippedFrom(*pixels, reference, stride, s));
  for (pelt::DecodePath path : pelt::SupportedPaths()) {
    std::vector<BgraPixel> rows(reference.size(), 0xDEADBEEF);
    pelt::DecodeBlockRowsWith(path, s.format, blocks.data(), s.xblocks, s.yblocks, rows.data(),
                              stride);
    PELT_FUZZ_CHECK(rows == reference);
  }

  // What the formats allow: a DXT1 pixel is opaque or the transparent entry (red 0, green 255,
  // blue 255, alpha 0); a DXT3 alpha is a nibble times 17.
  for (BgraPixel p : *pixels) {
    const pelt::Color8888 c = pelt::UnpackBgra(p);
    if (s.format == DxtFormat::kDxt1)
      PELT_FUZZ_CHECK(c.a == 255 || c == (pelt::Color8888{0, 255, 255, 0}));
    if (s.format == DxtFormat::kDxt3) PELT_FUZZ_CHECK(c.a % 17 == 0);
  }

  // The TGA image: an 18-byte header that describes exactly the pixels that follow it.
  for (std::uint8_t descriptor : {pelt::kTgaDescriptor, pelt::kTgaDescriptorStrict}) {
    const auto header = pelt::EncodeTgaHeader(pelt::MakeTgaHeader(
        static_cast<std::uint16_t>(s.width), static_cast<std::uint16_t>(s.height), descriptor));
    PELT_FUZZ_CHECK(header.size() == pelt::kTgaHeaderSize);
    PELT_FUZZ_CHECK(header[0] == 0 && header[1] == 0 && header[2] == 2 && header[16] == 32);
    PELT_FUZZ_CHECK(header[17] == descriptor);
    const std::uint32_t w = header[12] | header[13] << 8, h = header[14] | header[15] << 8;
    PELT_FUZZ_CHECK(w == s.width && h == s.height);
    PELT_FUZZ_CHECK(header.size() + pixels->size() * sizeof(BgraPixel) == 18 + 4ull * w * h);
  }
  return 0;
}
