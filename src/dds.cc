#include "dds.h"

// Placeholder: the block and surface decoders are being written.
namespace pelt {

const char* FormatName(DxtFormat f) {
  switch (f) {
    case DxtFormat::kDxt1: return "DXT1";
    case DxtFormat::kDxt3: return "DXT3";
    case DxtFormat::kDxt5: return "DXT5";
  }
  return "?";
}

Result<DdsSurface> CheckDdsEntry(std::span<const std::uint8_t>, std::uint64_t) {
  return Status::Unsupported("DDS decoding is not built yet");
}

void DecodeBlockRowsPortable(DxtFormat, const std::uint8_t*, std::uint32_t, std::uint32_t,
                             BgraPixel*, std::size_t) {}

}  // namespace pelt
