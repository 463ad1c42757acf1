#include "convert.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <span>

#include "dxt.h"
#include "tga.h"

namespace pelt {

namespace {

static_assert(std::endian::native == std::endian::little,
              "decoded pixel words are written to files as they lie in memory");

// Pixel data is decoded and written in bands of about this many bytes, whatever the surface.
constexpr std::size_t kBandBytes = 1u << 20;

// The kernel copies a write() into the page cache at a fraction of its speed when the source
// address lies a few bytes behind the file offset within a 64-byte line, and the 18-byte TGA
// header puts the pixels there in a line-aligned buffer: write() took 2.5 times as long. So each
// band is decoded at the place in its buffer whose address is 2 bytes ahead of its file offset
// within the line, the closest a 4-byte pixel can get (pixel file offsets are 2 past a multiple
// of 4).
constexpr std::size_t kLineBytes = 64;
constexpr std::size_t kLinePixels = kLineBytes / sizeof(BgraPixel);

// The first pixel at or after `base` that lies 2 bytes ahead of `file_offset` within a line.
BgraPixel* PlaceForWrite(BgraPixel* base, std::uint64_t file_offset) {
  const std::size_t have = reinterpret_cast<std::uintptr_t>(base) % kLineBytes;
  const std::size_t want = static_cast<std::size_t>((file_offset + 2) % kLineBytes);
  return base + (want + kLineBytes - have) % kLineBytes / sizeof(BgraPixel);
}

}  // namespace

Status ConvertDdsToTga(const ByteSource& archive, std::uint64_t entry_offset, const DdsSurface& s,
                       std::uint8_t descriptor, Sink* out) {
  const auto header = EncodeTgaHeader(MakeTgaHeader(
      static_cast<std::uint16_t>(s.width), static_cast<std::uint16_t>(s.height), descriptor));
  if (Status st = out->Write(header); !st.ok()) return st;
  std::uint64_t written = header.size();

  const std::size_t stride = std::size_t{s.xblocks} * 4;  // pixels per decoded row
  const std::size_t block_row_pixels = stride * 4;
  const std::size_t block_row_bytes = std::size_t{s.xblocks} * BlockSize(s.format);
  const std::uint32_t band = static_cast<std::uint32_t>(
      std::max<std::size_t>(1, kBandBytes / (block_row_pixels * sizeof(BgraPixel))));
  const std::uint32_t band_rows = std::min(band, s.yblocks);
  // Left uninitialised: every byte used is read or decoded first.
  const auto blocks = std::make_unique_for_overwrite<std::uint8_t[]>(block_row_bytes * band_rows);
  const auto buffer =
      std::make_unique_for_overwrite<BgraPixel[]>(block_row_pixels * band_rows + kLinePixels);

  const std::uint64_t data_offset = entry_offset + kDdsHeaderSize;
  for (std::uint32_t by = 0; by < s.yblocks; by += band_rows) {
    const std::uint32_t rows = std::min(band_rows, s.yblocks - by);
    const std::span<std::uint8_t> in(blocks.get(), block_row_bytes * rows);
    if (Status st = archive.ReadAt(data_offset + std::uint64_t{by} * block_row_bytes, in); !st.ok())
      return st;
    BgraPixel* const pixels = PlaceForWrite(buffer.get(), written);
    DecodeBlockRows(s.format, in.data(), s.xblocks, rows, pixels, stride);
    // Clip the bottom edge, and close up the rows when the right edge was clipped.
    const std::size_t out_rows = std::min<std::size_t>(std::size_t{rows} * 4, s.height - by * 4u);
    if (s.width != stride) {
      for (std::size_t r = 1; r < out_rows; ++r)
        std::memmove(&pixels[r * s.width], &pixels[r * stride], s.width * sizeof(BgraPixel));
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(pixels);
    const std::size_t n = out_rows * s.width * sizeof(BgraPixel);
    if (Status st = out->Write(std::span(bytes, n)); !st.ok()) return st;
    written += n;
  }
  return Status::Ok();
}

}  // namespace pelt
