// The chunk header of a kzm model, as the scan reads it: `size` is signed, so a size word with
// its top bit set reads as negative and marks a container whose payload is a run of sub-chunks.
#pragma once

#include <cstdint>

namespace pelt {

struct chunk {
  std::int32_t type = 0;
  std::int32_t size = 0;  // payload bytes after the header; negative for a container
};
inline constexpr std::uint32_t kChunkHeaderSize = 8;
static_assert(sizeof(chunk) == kChunkHeaderSize);

}  // namespace pelt
