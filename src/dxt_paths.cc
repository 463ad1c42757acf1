#include "dxt_paths.h"

// Placeholder: only the portable path for now.
namespace pelt {

const char* PathName(DecodePath) { return "portable"; }
bool PathSupported(DecodePath path) { return path == DecodePath::kPortable; }
std::vector<DecodePath> SupportedPaths() { return {DecodePath::kPortable}; }
DecodePath BestPath() { return DecodePath::kPortable; }

void DecodeBlockRowsWith(DecodePath, DxtFormat format, const std::uint8_t* blocks,
                         std::uint32_t xblocks, std::uint32_t block_rows, BgraPixel* out,
                         std::size_t stride) {
  DecodeBlockRowsPortable(format, blocks, xblocks, block_rows, out, stride);
}

void DecodeBlockRows(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                     std::uint32_t block_rows, BgraPixel* out, std::size_t stride) {
  DecodeBlockRowsPortable(format, blocks, xblocks, block_rows, out, stride);
}

}  // namespace pelt
