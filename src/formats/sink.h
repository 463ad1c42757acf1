// Where a conversion writes the bytes of the file it makes: an output file in a run
// (platform.h), memory in the tests.
#pragma once

#include <cstdint>
#include <span>

#include "status.h"

namespace pelt {

class Sink {
 public:
  virtual ~Sink() = default;
  // Appends `bytes`; fails, and says why, unless all of them were taken.
  [[nodiscard]] virtual Status Write(std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace pelt
