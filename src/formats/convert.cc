#include "convert.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <future>
#include <memory>
#include <span>

#include "decode.h"
#include "png_writer.h"
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

// Reads and decodes the surface a band of block rows at a time, and calls take(pixels, rows)
// with each band's rows clipped to the surface: rows x s.width pixels, packed, top row first,
// which `take` may change; it returns false to stop. Each band's pixels lie in the buffer as for a
// write at file offset `pos` plus the bytes of the pixels taken before (PlaceForWrite). With a
// thread free in `budget`, the next band is read and decoded on it while `take` has the last.
// Returns the first read failure.
template <typename Take>
Status DecodeBands(const ByteSource& archive, std::uint64_t entry_offset, const DdsSurface& s,
                   std::uint64_t pos, Take take, ThreadBudget* budget = nullptr) {
  const std::size_t stride = std::size_t{s.xblocks} * s.block_side;  // pixels per decoded row
  const std::size_t block_row_pixels = stride * s.block_side;
  const std::size_t block_row_bytes = std::size_t{s.xblocks} * s.block_size;
  const std::uint32_t band = static_cast<std::uint32_t>(
      std::max<std::size_t>(1, kBandBytes / (block_row_pixels * sizeof(BgraPixel))));
  const std::uint32_t band_rows = std::min(band, s.yblocks);
  const bool overlap = budget != nullptr && band_rows < s.yblocks && budget->TryTake();
  // Pixels of 4 bytes are read into the place they decode to, and decoded there.
  const bool in_place = s.block_side == 1 && s.block_size == sizeof(BgraPixel);
  // One set of buffers, or two when bands overlap. Left uninitialised: every byte used is read
  // or decoded first.
  std::unique_ptr<std::uint8_t[]> blocks[2];
  std::unique_ptr<BgraPixel[]> buffers[2];
  for (int i = 0; i < (overlap ? 2 : 1); ++i) {
    blocks[i] =
        std::make_unique_for_overwrite<std::uint8_t[]>(in_place ? 0 : block_row_bytes * band_rows);
    buffers[i] =
        std::make_unique_for_overwrite<BgraPixel[]>(block_row_pixels * band_rows + kLinePixels);
  }

  struct Band {
    Status status;
    BgraPixel* pixels = nullptr;
    std::size_t rows = 0;
  };
  // The band of block rows from `by`, in buffer set `set`.
  const auto produce = [&](std::uint32_t by, std::uint32_t set) {
    Band b;
    const std::uint32_t rows = std::min(band_rows, s.yblocks - by);
    // Every band before is whole: by x block side rows of the surface.
    const std::uint64_t at = pos + std::uint64_t{by} * s.block_side * s.width * sizeof(BgraPixel);
    b.pixels = PlaceForWrite(buffers[set].get(), at);
    const std::span<std::uint8_t> in(
        in_place ? reinterpret_cast<std::uint8_t*>(b.pixels) : blocks[set].get(),
        block_row_bytes * rows);
    const std::uint64_t data_offset = entry_offset + kDdsHeaderSize;
    b.status = archive.ReadAt(data_offset + std::uint64_t{by} * block_row_bytes, in);
    if (!b.status.ok()) return b;
    DecodeRows(s, in.data(), rows, b.pixels, stride);
    // Clip the bottom edge, and close up the rows when the right edge was clipped.
    b.rows = std::min<std::size_t>(std::size_t{rows} * s.block_side, s.height - by * s.block_side);
    if (s.width != stride) {
      for (std::size_t r = 1; r < b.rows; ++r)
        std::memmove(&b.pixels[r * s.width], &b.pixels[r * stride], s.width * sizeof(BgraPixel));
    }
    return b;
  };
  // With overlap, the band after `b` is read and decoded into the other set of buffers on a
  // thread of the budget's while `take` has `b`.
  Status result;
  std::future<Band> ahead;
  Band b = produce(0, 0);
  for (std::uint32_t by = 0, set = 0;; by += band_rows) {
    if (!b.status.ok()) {
      result = b.status;
      break;
    }
    const bool last = by + band_rows >= s.yblocks;
    const std::uint32_t next_set = overlap ? set ^ 1 : 0;
    if (overlap && !last) ahead = std::async(std::launch::async, produce, by + band_rows, next_set);
    if (!take(b.pixels, b.rows) || last) break;
    b = overlap ? ahead.get() : produce(by + band_rows, next_set);
    set = next_set;
  }
  if (ahead.valid()) ahead.wait();
  if (overlap) budget->Give();
  return result;
}

}  // namespace

Status ConvertDdsToTga(const ByteSource& archive, std::uint64_t entry_offset, const DdsSurface& s,
                       std::uint8_t descriptor, Sink* out, ThreadBudget* budget) {
  const auto header = EncodeTgaHeader(MakeTgaHeader(
      static_cast<std::uint16_t>(s.width), static_cast<std::uint16_t>(s.height), descriptor));
  if (Status st = out->Write(header); !st.ok()) return st;
  Status written;
  const Status read = DecodeBands(
      archive, entry_offset, s, header.size(),
      [&](const BgraPixel* pixels, std::size_t rows) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(pixels);
        written = out->Write(std::span(bytes, rows * s.width * sizeof(BgraPixel)));
        return written.ok();
      },
      budget);
  return read.ok() ? written : read;
}

Status ConvertDdsToPng(const ByteSource& archive, std::uint64_t entry_offset, const DdsSurface& s,
                       Sink* out, ThreadBudget* budget) {
  // Without alpha an opaque image is a quarter smaller before compression, and smaller after it
  // by more than the first pass costs.
  bool opaque = true;
  if (Status st = DecodeBands(archive, entry_offset, s, 0,
                              [&](const BgraPixel* pixels, std::size_t rows) {
                                opaque = std::all_of(pixels, pixels + rows * s.width,
                                                     [](BgraPixel p) { return p >> 24 == 0xFF; });
                                return opaque;
                              });
      !st.ok())
    return st;
  PngWriter png(out, static_cast<std::uint16_t>(s.width), static_cast<std::uint16_t>(s.height),
                opaque ? PngColour::kRgb : PngColour::kRgba, 0, budget);
  Status written;
  const Status read =
      DecodeBands(archive, entry_offset, s, 0, [&](BgraPixel* pixels, std::size_t rows) {
        // In place, to red, green, blue (and alpha): a pixel's samples never land past it.
        auto* samples = reinterpret_cast<std::uint8_t*>(pixels);
        for (std::size_t i = 0; !opaque && i < rows * s.width; ++i) {  // a loop GCC vectorises
          const BgraPixel p = pixels[i];
          pixels[i] = (p & 0xFF00FF00) | (p >> 16 & 0xFF) | (p & 0xFF) << 16;
        }
        for (std::size_t i = 0; opaque && i < rows * s.width; ++i) {
          const BgraPixel p = pixels[i];
          samples[3 * i] = static_cast<std::uint8_t>(p >> 16);
          samples[3 * i + 1] = static_cast<std::uint8_t>(p >> 8);
          samples[3 * i + 2] = static_cast<std::uint8_t>(p);
        }
        written = png.AddRows(samples, rows);
        return written.ok();
      });
  if (!read.ok()) return read;
  return written.ok() ? png.Finish() : written;
}

Status ConvertTgaToPng(const ByteSource& archive, std::uint64_t offset, std::uint64_t size,
                       const TgaImage& image, Sink* out, ThreadBudget* budget) {
  PngWriter png(out, image.width, image.height, ColourOf(image.channels), 0, budget);
  const Status read = ReadTgaRows(
      archive, offset, size, image,
      [&png](const std::uint8_t* samples, std::size_t rows) { return png.AddRows(samples, rows); });
  return read.ok() ? png.Finish() : read;
}

}  // namespace pelt
