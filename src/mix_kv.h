// The records of a mix archive's directory, as they lie in the file: all integers little-endian,
// no gaps. The archive is a 16-byte header at offset 0, an index (a count and `count` index
// records) at `index_offset` and a name table (a count, then per name a length byte and that
// many bytes, NUL included) at `tailer_offset`; entries lie wherever their `offset` says.
#pragma once

#include <cstdint>

namespace pelt {

// The identifier archives usually carry ("1XIM" in file order). Archives load whatever their
// `id` holds; only when a directory is damaged does its absence say the file is likely no archive.
inline constexpr std::uint32_t mix_kv_id = 0x4D495831;

struct t_mix_kv_header {
  std::int32_t id = 0;
  std::int32_t index_offset = 0;   // absolute position of the index
  std::int32_t tailer_offset = 0;  // absolute position of the name table
  std::int32_t zero = 0;           // reserved
};
inline constexpr std::uint32_t kMixHeaderSize = 16;

struct t_mix_kv_index_entry {
  std::int32_t id = 0;      // never used
  std::int32_t offset = 0;  // absolute position of the entry's first byte
  std::int32_t size = 0;    // length of the entry in bytes
};
inline constexpr std::uint32_t kMixIndexEntrySize = 12;

static_assert(sizeof(t_mix_kv_header) == kMixHeaderSize);
static_assert(sizeof(t_mix_kv_index_entry) == kMixIndexEntrySize);

}  // namespace pelt
