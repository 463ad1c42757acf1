// Fuzz target: the texture-name scan of a model from untrusted bytes.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "model_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);  // exact size: ASan sees an over-read
  const pelt::fuzz::StrictSource source(bytes);
  auto scan = pelt::ScanTextureNames(source);
  PELT_FUZZ_CHECK(scan.ok());  // only an I/O error can fail it, and memory has none

  // Every name came from its own chunk: an 8-byte header and a payload of at least one byte that
  // holds the name, so together they cannot need more bytes than the model has.
  std::uint64_t needed = 0;
  for (const std::string& name : scan->texturenames) {
    PELT_FUZZ_CHECK(name.find('\0') == std::string::npos);
    needed += 8 + std::max<std::size_t>(name.size(), 1);
  }
  PELT_FUZZ_CHECK(needed <= size);

  if (scan->name_cut_short) {
    // The chunk reported is a texture-name chunk whose header is whole and whose positive size
    // runs past the end of the file.
    const std::uint64_t at = scan->cut_short_offset;
    PELT_FUZZ_CHECK(at <= size && size - at >= 8);
    const std::uint32_t type = pelt::fuzz::Load32(bytes, at);
    const auto payload = static_cast<std::int32_t>(pelt::fuzz::Load32(bytes, at + 4));
    PELT_FUZZ_CHECK(type == 50);
    PELT_FUZZ_CHECK(payload > 0 && static_cast<std::uint64_t>(payload) > size - at - 8);
  }

  auto again = pelt::ScanTextureNames(source);
  PELT_FUZZ_CHECK(again.ok() && again->texturenames == scan->texturenames &&
                  again->name_cut_short == scan->name_cut_short &&
                  again->cut_short_offset == scan->cut_short_offset);
  return 0;
}
