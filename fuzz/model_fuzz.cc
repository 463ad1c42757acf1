// Fuzz target: the chunk walk of a model in memory. It never fails on memory; no name holds a
// NUL; the names, each with its chunk's 8-byte header, take no more bytes than lie before the
// chunk cut short (or the end of the input), and that chunk's header lies inside the input.
#include "model_scan.h"
#include "testutil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto m = pelt::ScanTextureNames(pelt::testing::MemorySource({data, size}));
  PELT_FUZZ_CHECK(m.ok());
  std::uint64_t used = 0;
  for (const std::string& name : m->texturenames) {
    PELT_FUZZ_CHECK(name.find('\0') == std::string::npos);
    used += 8 + name.size();
  }
  PELT_FUZZ_CHECK(m->name_cut_short ? used <= m->cut_short_offset && m->cut_short_offset + 8 <= size
                                    : used <= size);
  return 0;
}
