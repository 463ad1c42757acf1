// Fuzz target: the texture names of a model read from untrusted bytes. The scan never fails on
// bytes in memory, and each name came from a chunk of its own: a header and at least one byte.
#include "model_scan.h"
#include "testutil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const pelt::testing::Bytes bytes(data, data + size);  // exact size: ASan sees an over-read
  auto scan = pelt::ScanTextureNames(pelt::testing::MemorySource(bytes));
  PELT_FUZZ_CHECK(scan.ok());
  // Names come before a name cut short, whose header is whole.
  const std::uint64_t end = scan->name_cut_short ? scan->cut_short_offset : size;
  PELT_FUZZ_CHECK(end + (scan->name_cut_short ? 8 : 0) <= size);
  std::uint64_t needed = 0;
  for (const std::string& name : scan->texturenames) {
    PELT_FUZZ_CHECK(name.find('\0') == std::string::npos);
    needed += 8 + std::max<std::size_t>(name.size(), 1);
  }
  PELT_FUZZ_CHECK(needed <= end);
  return 0;
}
