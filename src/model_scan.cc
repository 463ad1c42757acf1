#include "model_scan.h"

#include <array>
#include <cstring>

#include "bittype.h"
#include "byte_reader.h"
#include "kzm_file.h"
#include "platform.h"

namespace pelt {

Result<ModelTextures> ScanTextureNames(const ByteSource& model) {
  ModelTextures out;
  SourceCursor cursor(model);
  // A tail shorter than a header ends the walk.
  while (cursor.remaining() >= kChunkHeaderSize) {
    const std::uint64_t header_pos = cursor.pos();
    std::array<std::uint8_t, kChunkHeaderSize> hb;
    if (Status s = cursor.Read(hb); !s.ok()) return s;
    chunk cc;
    cc.type = static_cast<std::int32_t>(LoadU32(hb.data()));
    cc.size = static_cast<std::int32_t>(LoadU32(hb.data() + 4));
    // Size 0, or a container (top bit set, negative as a signed word): nothing to consume; the
    // next header is the next chunk, or the container's first sub-chunk.
    if (cc.size <= 0) continue;
    const auto size = static_cast<std::uint64_t>(cc.size);
    if (cc.type != kChunkTextureName) {
      if (!cursor.Skip(size)) break;  // a payload cut short by the end of the file ends the walk
      continue;
    }
    if (cursor.remaining() < size) {
      out.name_cut_short = true;
      out.cut_short_offset = header_pos;
      break;
    }
    std::string payload(static_cast<std::size_t>(size), '\0');
    if (Status s = cursor.Read(std::span(reinterpret_cast<std::uint8_t*>(payload.data()),
                                         payload.size()));
        !s.ok())
      return s;
    // The name is the payload up to its NUL, or all of it where it has none.
    payload.resize(std::strlen(payload.c_str()));
    out.texturenames.push_back(std::move(payload));
  }
  return out;
}

}  // namespace pelt
