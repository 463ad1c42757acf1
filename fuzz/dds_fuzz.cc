// Fuzz target: a DDS entry. Its magic, which the check never reads, gives the TGA image descriptor
// (the first byte) and how far into the buffer the entry lies (the second, modulo 8: odd offsets
// too). CheckDdsEntry accepts what the reference decoder decodes, and what it accepts converts to
// the TGA file of the reference decoder's pixels, byte for byte (18 + 4 x width x height bytes),
// and to a PNG file within its bound that the tests' reader reads back to the same pixels: RGB when
// every pixel is opaque, RGBA otherwise.
#include "convert.h"
#include "png_writer.h"
#include "reference_decoder.h"

using namespace pelt;
using namespace pelt::testing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes entry(data, data + size);
  const auto s = CheckDdsEntry(entry, size);
  if (!s.ok()) {
    PELT_FUZZ_CHECK(!ReferenceDecodeDds(entry));
    return 0;
  }
  const std::size_t lead = data[1] % 8;
  Bytes buffer(lead);  // ends where the entry ends, so that reading past it fails
  Append(&buffer, entry);
  const MemorySource source(buffer);
  const Bytes want = ReferenceTga(entry, data[0]);  // 18 + 4 x width x height bytes
  MemorySink tga;
  PELT_FUZZ_CHECK(ConvertDdsToTga(source, lead, *s, data[0], &tga).ok() && tga.bytes == want);
  bool opaque = true;
  Bytes samples[2];  // the pixels as RGB and as RGBA
  for (std::size_t i = 18; i < want.size(); i += 4) {
    for (Bytes& b : samples) b.insert(b.end(), {want[i + 2], want[i + 1], want[i]});
    samples[1].push_back(want[i + 3]);
    opaque = opaque && want[i + 3] == 255;
  }
  MemorySink png;
  PELT_FUZZ_CHECK(ConvertDdsToPng(source, lead, *s, &png).ok() &&
                  png.bytes.size() <= PngSizeBound(s->width, s->height, opaque ? 3 : 4));
  const Png read = ReadPng(png.bytes);
  PELT_FUZZ_CHECK(read.width == s->width && read.height == s->height &&
                  read.colour == (opaque ? 2 : 6) && read.samples == samples[!opaque]);
  return 0;
}
