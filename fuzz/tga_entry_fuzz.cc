// Fuzz target: one TGA entry from untrusted bytes. What the check accepts converts without error
// into a PNG no larger than its bound, which the tests' own reader reads back at the entry's
// sides. The entry is an exact-size copy, read through a source that refuses reads past its end.
#include <vector>

#include "png.h"
#include "testutil.h"
#include "tga_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  const pelt::testing::MemorySource entry(bytes);
  const auto t = pelt::CheckTgaEntry(entry, 0, size);
  if (!t.ok()) return 0;
  pelt::testing::MemorySink png;
  PELT_FUZZ_CHECK(pelt::ConvertTgaToPng(entry, 0, size, *t, &png).ok());
  PELT_FUZZ_CHECK(png.bytes.size() <=
                  pelt::PngSizeBound(t->width, t->height, pelt::Channels(t->colour)));
  const pelt::testing::Png read = pelt::testing::ReadPng(png.bytes);
  PELT_FUZZ_CHECK(read.width == t->width && read.height == t->height);
  return 0;
}
