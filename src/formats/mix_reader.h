// A mix archive's directory, read from its bytes: where each entry lies, and its name. No entry
// data is read here.
//
// The archive is a 16-byte header at offset 0 (an identifier, index_offset, tailer_offset and a
// reserved word), an index (a count and `count` records of 12 bytes: an id, offset and size) at
// `index_offset`, and a name table (a count, then per name a length byte and that many bytes, NUL
// included) at `tailer_offset`; entries lie wherever their `offset` says. All integers are
// little-endian, signed 32-bit, with no gaps. The identifier, the reserved word and the records'
// ids are never read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_source.h"
#include "status.h"

namespace pelt {

// The identifier archives usually carry ("1XIM" in file order). Archives load whatever their
// first word holds; only when a directory is damaged does its absence say the file is likely no
// archive.
inline constexpr std::uint32_t kMixId = 0x4D495831;

// The header's two table positions, absolute in the file.
struct MixHeader {
  std::int32_t index_offset = 0;
  std::int32_t tailer_offset = 0;
};

// An index record: the entry's first byte, absolute in the file, and its length in bytes.
struct MixRecord {
  std::int32_t offset = 0;
  std::int32_t size = 0;
};

struct MixDirectory {
  // The index records as stored; there may be more of them than names.
  std::vector<MixRecord> records;
  // Entry names, index-aligned with `records`: the stored bytes up to the first NUL. The run
  // loops over these, so records beyond the name count are never visited.
  std::vector<std::string> filenames;
  // The size of the archive, against which every entry's place is checked.
  std::uint64_t archive_size = 0;
};

// Reads the header, index and name table. Never reads outside `archive` and never allocates
// for a count before checking it against the bytes that follow; on damage returns Corrupt with
// the reason that the run prints after "pelt: ARCHIVE: ".
Result<MixDirectory> ParseMixDirectory(const ByteSource& archive);

// Where an entry's bytes lie in the archive.
struct EntryPlace {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// The place of entry `entry` (an index below dir.filenames.size()), or Corrupt with the entry's
// numbers when it does not lie inside the archive.
Result<EntryPlace> PlaceOf(const MixDirectory& dir, std::size_t entry);

}  // namespace pelt
