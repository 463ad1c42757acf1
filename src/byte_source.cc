#include "byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pelt {

Status SpanSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > bytes_.size() || bytes_.size() - offset < out.size())
    return Status::Corrupt("unexpected end of file");
  if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return Status::Ok();
}

Status SliceSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > size_ || size_ - offset < out.size())
    return Status::Corrupt("unexpected end of file");
  return base_.ReadAt(offset_ + offset, out);
}

Result<InputFile> InputFile::Open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::FromErrno(errno);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return Status::FromErrno(err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Status::FromErrno(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  }
  return InputFile(fd, static_cast<std::uint64_t>(st.st_size));
}

InputFile::InputFile(InputFile&& other) noexcept : fd_(other.fd_), size_(other.size_) {
  other.fd_ = -1;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    size_ = other.size_;
    other.fd_ = -1;
  }
  return *this;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

Status InputFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > size_ || size_ - offset < out.size())
    return Status::Corrupt("unexpected end of file");
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n =
        ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(errno);
    }
    if (n == 0) return Status::Corrupt("unexpected end of file");  // shrank while we read it
    done += static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

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
