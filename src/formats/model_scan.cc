#include "model_scan.h"

#include <array>
#include <cstring>

#include "byte_reader.h"

namespace pelt {

namespace {

// A chunk header as the scan reads it: `size` is signed, so a size word with its top bit set
// reads as negative and marks a container whose payload is a run of sub-chunks.
struct ChunkHeader {
  std::int32_t type = 0;
  std::int32_t size = 0;  // payload bytes after the header; negative for a container
};
constexpr std::uint32_t kChunkHeaderSize = 8;

// A chunk whose payload is a texture's file name followed by a NUL.
constexpr std::int32_t kChunkTextureName = 50;

}  // namespace

Result<ModelTextures> ScanTextureNames(const ByteSource& model) {
  ModelTextures out;
  SourceCursor cursor(model);
  // A tail shorter than a header ends the walk.
  while (cursor.remaining() >= kChunkHeaderSize) {
    const std::uint64_t header_pos = cursor.pos();
    std::array<std::uint8_t, kChunkHeaderSize> hb;
    if (Status s = cursor.Read(hb); !s.ok()) return s;
    ChunkHeader chunk;
    chunk.type = static_cast<std::int32_t>(LoadU32(hb.data()));
    chunk.size = static_cast<std::int32_t>(LoadU32(hb.data() + 4));
    // Size 0, or a container (top bit set, negative as a signed word): nothing to consume; the
    // next header is the next chunk, or the container's first sub-chunk.
    if (chunk.size <= 0) continue;
    const auto size = static_cast<std::uint64_t>(chunk.size);
    if (chunk.type != kChunkTextureName) {
      if (!cursor.Skip(size)) break;  // a payload cut short by the end of the file ends the walk
      continue;
    }
    if (cursor.remaining() < size) {
      out.name_cut_short = true;
      out.cut_short_offset = header_pos;
      break;
    }
    std::string payload(static_cast<std::size_t>(size), '\0');
    if (Status s =
            cursor.Read(std::span(reinterpret_cast<std::uint8_t*>(payload.data()), payload.size()));
        !s.ok())
      return s;
    // The name is the payload up to its NUL, or all of it where it has none.
    payload.resize(std::strlen(payload.c_str()));
    out.texturenames.push_back(std::move(payload));
  }
  return out;
}

}  // namespace pelt
