// Fuzz target: a TGA entry, lying as far into the buffer as its size modulo 4 says. What
// CheckTgaEntry accepts has the header's sides and row order, is not right to left, and converts to
// a PNG file within its bound that the tests' reader reads back at the entry's sides (width x
// height x channels samples), grey, RGB or RGBA as the check's channels say.
#include "byte_reader.h"
#include "convert.h"
#include "png_writer.h"
#include "testutil.h"

using namespace pelt;
using namespace pelt::testing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes buffer(size % 4);  // ends where the entry ends, so that reading past it fails
  buffer.insert(buffer.end(), data, data + size);
  const MemorySource source(buffer);
  const auto t = CheckTgaEntry(source, size % 4, size);
  if (!t.ok()) return 0;
  // What the check says of the header: its sides and row order; never a right-to-left image.
  PELT_FUZZ_CHECK(t->width == LoadU16(data + 12) && t->height == LoadU16(data + 14) &&
                  t->top_down == ((data[17] & 0x20) != 0) && (data[17] & 0x10) == 0);
  MemorySink png;
  const std::size_t channels = t->channels;
  PELT_FUZZ_CHECK(ConvertTgaToPng(source, size % 4, size, *t, &png).ok() &&
                  png.bytes.size() <= PngSizeBound(t->width, t->height, channels));
  const Png read = ReadPng(png.bytes);
  const auto colour = static_cast<std::uint8_t>(ColourOf(channels));
  PELT_FUZZ_CHECK(read.width == t->width && read.height == t->height && read.colour == colour);
  return 0;
}
