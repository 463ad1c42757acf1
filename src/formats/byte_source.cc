#include "byte_source.h"

#include <algorithm>
#include <cstring>

namespace pelt {

namespace {
constexpr std::size_t kWindowSize = 64 * 1024;
}

Status SourceCursor::Read(std::span<std::uint8_t> out) {
  if (remaining() < out.size()) return Status::Corrupt("unexpected end of file");
  if (out.size() > kWindowSize) {  // large reads go straight to the source
    if (Status s = src_.ReadAt(pos_, out); !s.ok()) return s;
    pos_ += out.size();
    return Status::Ok();
  }
  const bool in_window = pos_ >= window_pos_ && pos_ - window_pos_ <= window_.size() &&
                         window_.size() - (pos_ - window_pos_) >= out.size();
  if (!in_window) {
    const std::uint64_t n = std::min<std::uint64_t>(kWindowSize, remaining());
    window_.resize(static_cast<std::size_t>(n));
    if (Status s = src_.ReadAt(pos_, window_); !s.ok()) {
      window_.clear();
      return s;
    }
    window_pos_ = pos_;
  }
  if (!out.empty()) std::memcpy(out.data(), window_.data() + (pos_ - window_pos_), out.size());
  pos_ += out.size();
  return Status::Ok();
}

bool SourceCursor::Skip(std::uint64_t n) {
  if (remaining() < n) return false;
  pos_ += n;
  return true;
}

}  // namespace pelt
