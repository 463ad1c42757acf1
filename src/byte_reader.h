// Bounds-checked little-endian reads over a byte span. A read that does not fit consumes
// nothing and returns false, so a short input can never leave a field half-filled unnoticed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pelt {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : rest_(bytes) {}

  std::size_t remaining() const { return rest_.size(); }
  std::span<const std::uint8_t> rest() const { return rest_; }

  bool U8(std::uint8_t* v) {
    if (rest_.empty()) return false;
    *v = rest_[0];
    rest_ = rest_.subspan(1);
    return true;
  }
  bool U16(std::uint16_t* v) {
    if (rest_.size() < 2) return false;
    *v = static_cast<std::uint16_t>(rest_[0] | rest_[1] << 8);
    rest_ = rest_.subspan(2);
    return true;
  }
  bool U32(std::uint32_t* v) {
    if (rest_.size() < 4) return false;  // never compute pos + 4: it can overflow
    *v = std::uint32_t{rest_[0]} | std::uint32_t{rest_[1]} << 8 | std::uint32_t{rest_[2]} << 16 |
         std::uint32_t{rest_[3]} << 24;
    rest_ = rest_.subspan(4);
    return true;
  }
  bool I16(std::int16_t* v) {
    std::uint16_t u;
    if (!U16(&u)) return false;
    *v = static_cast<std::int16_t>(u);
    return true;
  }
  bool I32(std::int32_t* v) {
    std::uint32_t u;
    if (!U32(&u)) return false;
    *v = static_cast<std::int32_t>(u);
    return true;
  }
  // Takes the next `n` bytes as a view into the input.
  bool Bytes(std::size_t n, std::span<const std::uint8_t>* v) {
    if (rest_.size() < n) return false;
    *v = rest_.first(n);
    rest_ = rest_.subspan(n);
    return true;
  }
  bool Skip(std::size_t n) {
    if (rest_.size() < n) return false;
    rest_ = rest_.subspan(n);
    return true;
  }

 private:
  std::span<const std::uint8_t> rest_;
};

// Little-endian decoding of a field at a known position of a buffer the caller has sized.
inline std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

}  // namespace pelt
