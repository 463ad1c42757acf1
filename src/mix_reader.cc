#include "mix_reader.h"

namespace pelt {
Result<MixDirectory> ParseMixDirectory(const ByteSource&) { return Status::Corrupt("todo"); }
Result<MixDirectory> ParseMixDirectory(std::span<const std::uint8_t> archive) {
  return ParseMixDirectory(SpanSource(archive));
}
Result<MixArchive> LoadMixDirectory(const std::string&) { return Status::Corrupt("todo"); }
}  // namespace pelt
