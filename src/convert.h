// Converting a DDS entry to a TGA file, a band of block rows at a time.
#pragma once

#include <cstdint>

#include "byte_source.h"
#include "dds.h"
#include "output_file.h"
#include "status.h"

namespace pelt {

// Writes the TGA header (with image descriptor `descriptor`) and the decoded pixels of the
// checked surface `s` of the DDS entry at `entry_offset` in `archive` to `out`.
Status ConvertDdsToTga(const ByteSource& archive, std::uint64_t entry_offset, const DdsSurface& s,
                       std::uint8_t descriptor, OutputFile* out);

}  // namespace pelt
