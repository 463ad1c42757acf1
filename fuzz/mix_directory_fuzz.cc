// Fuzz target: an archive's directory (header, index, name table) from untrusted bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "mix_reader.h"

namespace {

bool SameDirectory(const pelt::MixDirectory& a, const pelt::MixDirectory& b) {
  if (a.indexhead.size() != b.indexhead.size() || a.filenames != b.filenames) return false;
  for (std::size_t i = 0; i < a.indexhead.size(); ++i) {
    const auto &x = a.indexhead[i], &y = b.indexhead[i];
    if (x.id != y.id || x.offset != y.offset || x.size != y.size) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);  // exact size: ASan sees an over-read
  const pelt::fuzz::StrictSource source(bytes);
  auto dir = pelt::ParseMixDirectory(source);
  if (!dir.ok()) {
    PELT_FUZZ_CHECK(dir.status().code() == pelt::Code::kCorrupt);
    PELT_FUZZ_CHECK(!dir.status().message().empty());
    return 0;
  }
  PELT_FUZZ_CHECK(dir->archive_size == size);
  PELT_FUZZ_CHECK(dir->filenames.size() <= dir->indexhead.size());
  // The index count is the one stored at the index offset, and every record came from the file.
  const auto index_offset = static_cast<std::size_t>(dir->mixhead.index_offset);
  PELT_FUZZ_CHECK(dir->indexhead.size() == pelt::fuzz::Load32(bytes, index_offset));
  PELT_FUZZ_CHECK(dir->indexhead.size() <= (size - index_offset - 4) / 12);
  std::size_t name_bytes = 0;
  for (const std::string& name : dir->filenames) {
    PELT_FUZZ_CHECK(name.size() <= 254);  // a length byte of 255 holds at most 254 and a NUL
    PELT_FUZZ_CHECK(name.find('\0') == std::string::npos);
    name_bytes += name.size() + 2;
  }
  PELT_FUZZ_CHECK(name_bytes <= size);

  // The span entry point reads the same directory.
  auto again = pelt::ParseMixDirectory(std::span<const std::uint8_t>(bytes));
  PELT_FUZZ_CHECK(again.ok() && SameDirectory(*dir, *again));
  return 0;
}
