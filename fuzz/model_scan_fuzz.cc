// Fuzz target: the texture names of a model read from untrusted bytes.
#include "byte_reader.h"
#include "model_scan.h"
#include "testutil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const pelt::testing::Bytes bytes(data, data + size);  // exact size: ASan sees an over-read
  auto scan = pelt::ScanTextureNames(pelt::testing::MemorySource(bytes));
  PELT_FUZZ_CHECK(scan.ok());  // only a failed read fails it, and memory has none
  // Each name came from a chunk of its own: a header and a payload of at least one byte.
  std::uint64_t needed = 0;
  for (const std::string& name : scan->texturenames) {
    PELT_FUZZ_CHECK(name.find('\0') == std::string::npos);
    needed += 8 + std::max<std::size_t>(name.size(), 1);
  }
  PELT_FUZZ_CHECK(needed <= size);
  // A name cut short: a whole texture-name header whose positive size runs past the end.
  const std::uint64_t at = scan->cut_short_offset;
  PELT_FUZZ_CHECK(!scan->name_cut_short ||
                  (at + 8 <= size && pelt::LoadU32(&bytes[at]) == 50 &&
                   static_cast<std::int32_t>(pelt::LoadU32(&bytes[at + 4])) > 0 &&
                   pelt::LoadU32(&bytes[at + 4]) > size - at - 8));
  return 0;
}
