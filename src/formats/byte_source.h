// Random access to the bytes of an input: an archive or a model read from an open file
// (platform.h), or a window of one (an entry). Parsers take a ByteSource so that the same code
// reads both, and never hold more of a file than they need.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "status.h"

namespace pelt {

// Whether `n` bytes at `offset` lie inside `size` bytes, without computing offset + n, which
// can overflow.
constexpr bool Fits(std::uint64_t offset, std::uint64_t n, std::uint64_t size) {
  return offset <= size && size - offset >= n;
}

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // Fills `out` with the bytes at `offset`. Fails, and says why, unless all of them are there.
  Status ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (!Fits(offset, out.size(), size())) return Status::Corrupt("unexpected end of file");
    return Read(offset, out);
  }

 private:
  // Fills `out` with the bytes at `offset`, which ReadAt has checked lie inside the source.
  virtual Status Read(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

// The bytes [offset, offset + size) of another source as a source of their own: a model read
// from an archive entry. The caller checks that the window lies inside `base`.
class SliceSource final : public ByteSource {
 public:
  SliceSource(const ByteSource& base, std::uint64_t offset, std::uint64_t size)
      : base_(base), offset_(offset), size_(size) {}
  std::uint64_t size() const override { return size_; }

 private:
  Status Read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    return base_.ReadAt(offset_ + offset, out);
  }
  const ByteSource& base_;
  std::uint64_t offset_, size_;
};

// Sequential reads over a ByteSource through a window, so that walking many small records
// (chunk headers, names) costs few system calls. Reads never reach past the source's end.
class SourceCursor {
 public:
  explicit SourceCursor(const ByteSource& src, std::uint64_t pos = 0) : src_(src), pos_(pos) {}

  std::uint64_t pos() const { return pos_; }
  std::uint64_t remaining() const { return pos_ < src_.size() ? src_.size() - pos_ : 0; }
  // Reads exactly out.size() bytes; on a short source or an I/O error consumes nothing.
  Status Read(std::span<std::uint8_t> out);
  // Moves forward by `n` bytes without reading them; false (and no move) past the end.
  bool Skip(std::uint64_t n);

 private:
  const ByteSource& src_;
  std::uint64_t pos_;
  std::vector<std::uint8_t> window_;
  std::uint64_t window_pos_ = 0;
};

}  // namespace pelt
