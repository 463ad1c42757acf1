// The code paths that decode rows of DXT blocks, chosen at run time by what the processor
// supports. Every path writes exactly the same bytes as DecodeBlockRowsPortable (dds.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dds.h"

namespace pelt {

enum class DecodePath : std::uint8_t { kPortable, kSsse3, kAvx2 };

const char* PathName(DecodePath path);
// Whether the running processor can execute `path`.
bool PathSupported(DecodePath path);
std::vector<DecodePath> SupportedPaths();
// The fastest supported path, chosen once.
DecodePath BestPath();

// As DecodeBlockRowsPortable, through `path` (which must be supported).
void DecodeBlockRowsWith(DecodePath path, DxtFormat format, const std::uint8_t* blocks,
                         std::uint32_t xblocks, std::uint32_t block_rows, BgraPixel* out,
                         std::size_t stride);
// As DecodeBlockRowsPortable, through BestPath().
void DecodeBlockRows(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                     std::uint32_t block_rows, BgraPixel* out, std::size_t stride);

}  // namespace pelt
