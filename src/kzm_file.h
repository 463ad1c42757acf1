// The kzm model format's own view of a chunk header (both fields unsigned) and the chunk types
// pelt knows. Of the whole format only the texture-name chunk is interpreted.
#pragma once

#include <cstdint>

namespace pelt {

struct KzmChunkHeader {
  std::uint32_t ChunkType = 0;
  std::uint32_t ChunkSize = 0;  // bit 31 set: a container; the low bits give its payload length
};
static_assert(sizeof(KzmChunkHeader) == 8);

// A chunk whose payload is a texture's file name followed by a NUL.
inline constexpr std::int32_t kChunkTextureName = 50;
// The bit of the size word that marks a container chunk.
inline constexpr std::uint32_t kChunkContainerBit = 0x80000000u;

}  // namespace pelt
