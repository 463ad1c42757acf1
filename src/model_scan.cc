#include "model_scan.h"

namespace pelt {
Result<ModelTextures> ScanTextureNames(const ByteSource&) { return Status::Corrupt("todo"); }
Result<ModelTextures> CollectTextureNames(const std::string&) { return Status::Corrupt("todo"); }
}  // namespace pelt
