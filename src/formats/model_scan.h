// Collecting the texture names a kzm model refers to. The walk is flat: it reads a chunk header
// and either skips the payload or, for a container (size negative as a signed word), reads the
// next header inside it, so texture-name chunks are found at any depth without recursion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_source.h"
#include "status.h"

namespace pelt {

struct ModelTextures {
  // The names in file order, duplicates kept: each payload up to its first NUL, or the whole
  // payload where it has none. Case is kept as stored.
  std::vector<std::string> texturenames;
  // Set when the last texture-name chunk is cut short by the end of the file. Its name is
  // dropped; the run reports it and goes on.
  bool name_cut_short = false;
  std::uint64_t cut_short_offset = 0;  // file offset of that chunk's header
};

// Walks the chunk stream of `model`. Any chunk other than a texture name that the end of the
// file cuts short ends the walk silently. Fails only when the source cannot be read.
Result<ModelTextures> ScanTextureNames(const ByteSource& model);

}  // namespace pelt
