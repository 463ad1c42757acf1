// TGA entries read as pixels: the check that decides whether pelt can convert an entry, and the
// reading of its rows, top row first. (tga.h is the header of the TGA files pelt writes.)
//
// A TGA entry is an 18-byte header (little-endian fields), an image ID, a colour map, pixel
// data, and anything after it (a footer), which is ignored. pelt reads image types 1 and 9
// (8-bit indices into a colour map of 24- or 32-bit entries, numbered from the header's first
// entry index), 2 and 10 (16-, 24- or 32-bit pixels: blue, green, red, then alpha or the 5-5-5
// word whose top bit is the attribute bit) and 3 and 11 (8-bit grey). Types 9 to 11 are
// run-length encoded: packets of 1 to 128 pixels, a repeated pixel or the pixels as they are,
// which may cross rows. Rows are stored bottom row first unless descriptor bit 5 is set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "byte_source.h"
#include "status.h"

namespace pelt {

// What the check found out about an entry that the conversion needs.
struct TgaImage {
  std::uint16_t width = 0, height = 0;
  std::uint8_t depth = 0;      // bits per stored pixel or index: 8, 16, 24 or 32
  std::uint8_t map_depth = 0;  // bits per colour-map entry, 24 or 32; 0 when not mapped
  std::uint16_t map_first = 0, map_length = 0;  // the map's first entry index, its entries
  bool rle = false;                             // types 9, 10 and 11
  bool top_down = false;                        // descriptor bit 5: the top row is stored first
  std::uint32_t map_offset = 0;                 // where the colour map starts in the entry
  std::uint32_t data_offset = 0;                // where the pixel data starts
  // Samples a pixel is read as: 1 (grey) for grey; 3 (red, green, blue) for 24-bit pixels or
  // map entries and 16-bit ones with no attribute bit; 4 (red, green, blue, alpha) otherwise.
  std::uint8_t channels = 3;
};

// Checks the entry of `size` bytes at `offset` in `archive` before anything is written: refuses
// what pelt cannot convert, as Unsupported (another image type or depth, a right-to-left image)
// or Corrupt (sides of 0, a colour-mapped type without a map, data cut short, an index outside
// the map), saying why. Reads every index and every run-length packet, so that the conversion of
// an accepted entry cannot fail but on a read or write failure.
[[nodiscard]] Result<TgaImage> CheckTgaEntry(const ByteSource& archive, std::uint64_t offset,
                                             std::uint64_t size);

// Reads the entry CheckTgaEntry accepted as `image`, top row first, a band of rows at a time:
// calls take(samples, rows) with `rows` rows of width x image.channels samples, packed, until
// every row is taken or `take` fails. 16-bit channels widen by bit replication; a set attribute
// bit is alpha 255, a clear one 0. Memory stays at a band of about 1 MiB (and 16 bytes a row for
// a run-length encoded image stored bottom row first). Returns the first read failure or the
// first failure of `take`.
using TakeRows = std::function<Status(const std::uint8_t* samples, std::size_t rows)>;
[[nodiscard]] Status ReadTgaRows(const ByteSource& archive, std::uint64_t offset,
                                 std::uint64_t size, const TgaImage& image, const TakeRows& take);

}  // namespace pelt
