#include "dxt_paths.h"

#include "dxt_simd.h"

namespace pelt {

const char* PathName(DecodePath path) {
  switch (path) {
    case DecodePath::kPortable:
      return "portable";
    case DecodePath::kSsse3:
      return "ssse3";
    case DecodePath::kAvx2:
      return "avx2";
  }
  return "?";
}

bool PathSupported(DecodePath path) {
  switch (path) {
    case DecodePath::kPortable:
      return true;
#if defined(__x86_64__)
    // Both also check that the operating system saves the vector registers.
    case DecodePath::kSsse3:
      __builtin_cpu_init();
      return __builtin_cpu_supports("ssse3");
    case DecodePath::kAvx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
#else
    case DecodePath::kSsse3:
    case DecodePath::kAvx2:
      return false;
#endif
  }
  return false;
}

std::vector<DecodePath> SupportedPaths() {
  std::vector<DecodePath> paths;
  for (DecodePath p : {DecodePath::kPortable, DecodePath::kSsse3, DecodePath::kAvx2}) {
    if (PathSupported(p)) paths.push_back(p);
  }
  return paths;
}

DecodePath BestPath() {
  static const DecodePath best = SupportedPaths().back();  // the list runs slowest to fastest
  return best;
}

void DecodeBlockRowsWith(DecodePath path, DxtFormat format, const std::uint8_t* blocks,
                         std::uint32_t xblocks, std::uint32_t block_rows, BgraPixel* out,
                         std::size_t stride) {
#if defined(__x86_64__)
  switch (path) {
    case DecodePath::kPortable:
      break;
    case DecodePath::kSsse3:
      return simd::DecodeBlockRowsSsse3(format, blocks, xblocks, block_rows, out, stride);
    case DecodePath::kAvx2:
      return simd::DecodeBlockRowsAvx2(format, blocks, xblocks, block_rows, out, stride);
  }
#else
  (void)path;
#endif
  DecodeBlockRowsPortable(format, blocks, xblocks, block_rows, out, stride);
}

void DecodeBlockRows(DxtFormat format, const std::uint8_t* blocks, std::uint32_t xblocks,
                     std::uint32_t block_rows, BgraPixel* out, std::size_t stride) {
  DecodeBlockRowsWith(BestPath(), format, blocks, xblocks, block_rows, out, stride);
}

}  // namespace pelt
