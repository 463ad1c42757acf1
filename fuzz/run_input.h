// How the whole-run fuzz target finds an archive and a model in one input:
//
//   flags (1 byte) | archive length (4 bytes, little-endian) | archive bytes | model bytes
//
// A length longer than what follows takes all of it (the model is then empty), and an input too
// short for the prefix is an empty archive and an empty model, so every input means something.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace pelt::fuzz {

inline constexpr std::uint8_t kRunList = 0x01;       // run with --list
inline constexpr std::uint8_t kRunStrictTga = 0x02;  // run with --strict-tga

struct RunInput {
  std::uint8_t flags = 0;
  std::span<const std::uint8_t> archive, model;
};

inline RunInput SplitRunInput(std::span<const std::uint8_t> in) {
  RunInput r;
  if (in.size() < 5) return r;
  r.flags = in[0];
  const std::uint32_t len = std::uint32_t{in[1]} | std::uint32_t{in[2]} << 8 |
                            std::uint32_t{in[3]} << 16 | std::uint32_t{in[4]} << 24;
  const auto rest = in.subspan(5);
  const std::size_t n = std::min<std::size_t>(len, rest.size());
  r.archive = rest.first(n);
  r.model = rest.subspan(n);
  return r;
}

inline std::vector<std::uint8_t> JoinRunInput(std::uint8_t flags,
                                              std::span<const std::uint8_t> archive,
                                              std::span<const std::uint8_t> model) {
  std::vector<std::uint8_t> out{flags};
  const auto len = static_cast<std::uint32_t>(archive.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(len >> (8 * i)));
  out.insert(out.end(), archive.begin(), archive.end());
  out.insert(out.end(), model.begin(), model.end());
  return out;
}

}  // namespace pelt::fuzz
