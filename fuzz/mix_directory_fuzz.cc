// Fuzz target: an archive's directory read from untrusted bytes.
#include "mix_reader.h"
#include "testutil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const pelt::testing::Bytes bytes(data, data + size);  // exact size: ASan sees an over-read
  auto dir = pelt::ParseMixDirectory(pelt::testing::MemorySource(bytes));
  PELT_FUZZ_CHECK(dir.ok() || dir.status().code() == pelt::Code::kCorrupt);
  PELT_FUZZ_CHECK(dir.ok() || !dir.status().message().empty());
  if (!dir.ok()) return 0;
  // Every record came from the file (12 bytes each), and every name, up to its NUL.
  PELT_FUZZ_CHECK(dir->filenames.size() <= dir->indexhead.size());
  PELT_FUZZ_CHECK(4 + 12 * dir->indexhead.size() <= size);
  for (const std::string& name : dir->filenames)
    PELT_FUZZ_CHECK(name.size() <= 254 && name.find('\0') == std::string::npos);
  return 0;
}
