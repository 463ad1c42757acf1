// What every fuzz target shares: a check that stops the process when an invariant breaks (so
// libFuzzer records the input and the replay main fails), and a byte source that stops it when a
// parser asks for bytes outside its input instead of checking first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "byte_source.h"

#define PELT_FUZZ_CHECK(cond)                                                           \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
      std::fflush(stderr);                                                              \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

namespace pelt::fuzz {

// An in-memory source whose ReadAt refuses nothing: a read past the end is a parser that trusted
// a field without checking it against size(), so it aborts rather than returning an error the
// parser would pass off as damage.
class StrictSource final : public ByteSource {
 public:
  explicit StrictSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  Status ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    PELT_FUZZ_CHECK(offset <= bytes_.size() && bytes_.size() - offset >= out.size());
    if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
    return Status::Ok();
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

inline std::uint32_t Load32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
         std::uint32_t{b[at + 3]} << 24;
}

}  // namespace pelt::fuzz
