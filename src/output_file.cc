#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace pelt {

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

Status MakeDirectories(const std::string& dir) {
  if (dir.empty()) return Status::Ok();
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    const std::string prefix = dir.substr(0, pos);
    if (prefix.empty() || prefix.back() == '/') continue;
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return Status::FromErrno(errno);
  }
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) return Status::FromErrno(errno);
  if (!S_ISDIR(st.st_mode)) return Status::FromErrno(ENOTDIR);
  return Status::Ok();
}

namespace {

mode_t CurrentUmask() {
  static const mode_t mask = [] {
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  return mask;
}

Status WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(errno);
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return Status::Ok();
}

}  // namespace

Result<OutputFile> OutputFile::Create(const std::string& dir) {
  std::string path = (dir.empty() ? std::string(".") : dir) + "/.pelt-XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return Status::FromErrno(errno);
  if (::fchmod(fd, 0666 & ~CurrentUmask()) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    return Status::FromErrno(err);
  }
  return OutputFile(fd, dir.empty() ? std::string(".") : dir, std::move(path));
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(other.fd_), dir_(std::move(other.dir_)), temp_path_(std::move(other.temp_path_)) {
  other.fd_ = -1;
  other.temp_path_.clear();
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
}

Status OutputFile::Write(std::span<const std::uint8_t> bytes) {
  return WriteAll(fd_, bytes.data(), bytes.size());
}

Status OutputFile::CopyFrom(const InputFile& in, std::uint64_t offset, std::uint64_t size) {
  auto off_in = static_cast<loff_t>(offset);
  std::uint64_t left = size;
  // The kernel copies (or shares extents) without the bytes passing through this process.
  while (left > 0) {
    const std::size_t want = left > (1u << 30) ? (1u << 30) : static_cast<std::size_t>(left);
    const ssize_t n = ::copy_file_range(in.fd(), &off_in, fd_, nullptr, want, 0);
    if (n > 0) {
      left -= static_cast<std::uint64_t>(n);
      continue;
    }
    if (n == 0) return Status::Corrupt("unexpected end of file");  // the archive shrank
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL ||
        errno == EBADF || errno == EPERM || errno == ETXTBSY)
      break;  // this kernel or filesystem will not: copy by hand below
    return Status::FromErrno(errno);
  }
  if (left == 0) return Status::Ok();
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(left < (1u << 20) ? left : (1u << 20)));
  std::uint64_t pos = static_cast<std::uint64_t>(off_in);
  while (left > 0) {
    const std::size_t n = left < buf.size() ? static_cast<std::size_t>(left) : buf.size();
    if (Status s = in.ReadAt(pos, std::span(buf).first(n)); !s.ok()) return s;
    if (Status s = WriteAll(fd_, buf.data(), n); !s.ok()) return s;
    pos += n;
    left -= n;
  }
  return Status::Ok();
}

Status OutputFile::Commit(const std::string& name) {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return Status::FromErrno(errno);  // late write errors (NFS, quotas)
  const std::string final_path = dir_ + "/" + name;
  if (::rename(temp_path_.c_str(), final_path.c_str()) != 0) return Status::FromErrno(errno);
  temp_path_.clear();
  return Status::Ok();
}

}  // namespace pelt
