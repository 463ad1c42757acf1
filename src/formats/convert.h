// Converting an entry of an archive to the file pelt writes for it: a DDS entry to a TGA or PNG
// file, a TGA entry to a PNG file.
#pragma once

#include <cstdint>

#include "byte_source.h"
#include "dds.h"
#include "png_writer.h"
#include "sink.h"
#include "status.h"
#include "tga_reader.h"

namespace pelt {

// Writes to `out` the 18-byte TGA header of a s.width x s.height image with image descriptor
// `descriptor`, then its pixels (tga.h), decoded from the block data at entry_offset +
// kDdsHeaderSize in `archive`; `s` is what CheckDdsEntry said of the entry there. The blocks are
// read, decoded and written a band of block rows (about 1 MiB of pixels) at a time, so memory
// stays at one band whatever the surface's size, or two when a thread is free in `budget`: the
// next band is then decoded on it while the last is written. Returns the first read or write
// failure.
Status ConvertDdsToTga(const ByteSource& archive, std::uint64_t entry_offset, const DdsSurface& s,
                       std::uint8_t descriptor, Sink* out, ThreadBudget* budget = nullptr);

// Writes to `out` the same pixels as ConvertDdsToTga, top row first, as a PNG file (png_writer.h):
// RGB when every pixel is opaque (found by a first decoding pass, which stops at the first pixel
// that is not), RGBA otherwise; at most PngSizeBound(s.width, s.height, 4) bytes. Memory stays
// at a few bands. Bands are compressed on the threads `budget` has free (png_writer.h), or
// without one on up to 4. Returns the first read or write failure.
[[nodiscard]] Status ConvertDdsToPng(const ByteSource& archive, std::uint64_t entry_offset,
                                     const DdsSurface& s, Sink* out,
                                     ThreadBudget* budget = nullptr);

// Writes the TGA entry of `size` bytes at `offset` in `archive`, which CheckTgaEntry accepted as
// `image`, to `out` as a PNG file of image.channels samples a pixel (grey, RGB or RGBA), top row
// first: at most PngSizeBound(width, height, image.channels) bytes. Memory stays at a few bands.
// Returns the first read or write failure.
[[nodiscard]] Status ConvertTgaToPng(const ByteSource& archive, std::uint64_t offset,
                                     std::uint64_t size, const TgaImage& image, Sink* out,
                                     ThreadBudget* budget = nullptr);

}  // namespace pelt
