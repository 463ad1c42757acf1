#include "dxt_paths.h"

#include "dxt_simd.h"

namespace pelt {
namespace {

#if defined(__x86_64__)
// Outputs of at least this many bytes are written with non-temporal stores, which bypass the
// cache: well beyond what the cache holds they save reading each line in before writing it, but
// an output that fits is faster to write through the cache and is read again from it (the run
// decodes bands of about 1 MiB and writes each to its file at once).
constexpr std::size_t kStreamBytes = std::size_t{16} << 20;

// Bytes from the first pixel of the first row to the end of the last row.
std::size_t OutputBytes(std::uint32_t xblocks, std::uint32_t block_rows, std::size_t stride) {
  if (xblocks == 0 || block_rows == 0) return 0;
  // The caller holds a buffer this large, so none of this overflows.
  return ((std::size_t{block_rows} * 4 - 1) * stride + std::size_t{xblocks} * 4) *
         sizeof(BgraPixel);
}
#endif

}  // namespace

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
  const bool stream = OutputBytes(xblocks, block_rows, stride) >= kStreamBytes;
  switch (path) {
    case DecodePath::kPortable:
      break;
    case DecodePath::kSsse3:
      return simd::DecodeBlockRowsSsse3(format, blocks, xblocks, block_rows, out, stride, stream);
    case DecodePath::kAvx2:
      return simd::DecodeBlockRowsAvx2(format, blocks, xblocks, block_rows, out, stride, stream);
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
