// Fuzz target: one DDS entry from untrusted bytes. What the check in front of decoding accepts,
// every supported decoding path decodes exactly as the reference does, reading only the blocks
// the check said are there (an exact-size copy: ASan sees one byte more) and writing only the
// rows it is given.
#include <algorithm>
#include <vector>

#include "dds.h"
#include "reference_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> head(data, data + std::min<std::size_t>(size, 128));
  const auto s = pelt::CheckDdsEntry(head, size);
  if (!s.ok()) return 0;
  const std::vector<std::uint8_t> blocks(data + 128, data + 128 + s->block_bytes);
  if (pelt::testing::FirstPathUnlikeReference(s->format, blocks.data(), s->xblocks, s->yblocks,
                                              4 * s->xblocks + 1, 1) != -1)
    __builtin_trap();
  return 0;
}
