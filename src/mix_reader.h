// Loading a mix archive's directory: the header, the index and the name table. No entry data is
// read here; the run reads entries by offset and size from the archive file itself.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "byte_source.h"
#include "mix_kv.h"
#include "platform.h"
#include "status.h"

namespace pelt {

struct MixDirectory {
  t_mix_kv_header mixhead;
  // The index records exactly as stored; there may be more of them than names.
  std::vector<t_mix_kv_index_entry> indexhead;
  // Entry names, index-aligned with `indexhead`: the stored bytes up to the first NUL. The run
  // loops over these, so records beyond the name count are never visited.
  std::vector<std::string> filenames;
  // The size of the archive, against which the run checks every entry's bounds.
  std::uint64_t archive_size = 0;
};

// Reads the header, index and name table. Never reads outside `archive` and never allocates
// for a count before checking it against the bytes that follow; on damage returns Corrupt with
// the reason that the run prints after "pelt: ARCHIVE: ".
Result<MixDirectory> ParseMixDirectory(const ByteSource& archive);

// An open archive and its directory; the file stays open for reading entries.
struct MixArchive {
  InputFile file;
  MixDirectory dir;
};

// Opens the archive at `path` and parses its directory. The Status carries the system's reason
// when the file cannot be opened or read.
Result<MixArchive> LoadMixDirectory(const std::string& path);

}  // namespace pelt
