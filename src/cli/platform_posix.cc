// The platform layer on POSIX systems: pread for inputs, mkostemp and rename for outputs,
// copy_file_range for copies, and signal handlers that remove the temporary file being written.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform.h"

namespace pelt {

// ---- inputs ---------------------------------------------------------------------------------

Result<InputFile> InputFile::Open(const std::string& path) {
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer. The kind is checked before
  // anything is read, and the flag cleared once the file is known to be a regular one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Status::FromErrno(errno);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return Status::FromErrno(err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    if (S_ISDIR(st.st_mode)) return Status::FromErrno(EISDIR);
    return Status::IoError("not a regular file");
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int err = errno;
    ::close(fd);
    return Status::FromErrno(err);
  }
  return InputFile(fd, static_cast<std::uint64_t>(st.st_size));
}

InputFile::~InputFile() {
  if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));
}

Status InputFile::Read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  const int fd = static_cast<int>(handle_);
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n =
        ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(errno);
    }
    if (n == 0) return Status::Corrupt("unexpected end of file");  // shrank while we read it
    done += static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

// ---- directories ----------------------------------------------------------------------------

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

// ---- interrupt cleanup ----------------------------------------------------------------------

// The temporary files being written, a slot each, where the signal handler can read them
// without locks or allocation: each slot's path, and whether it is set. Slots are taken and
// given back under a mutex, which the handler never touches.
struct TempSlot {
  char path[PATH_MAX];
  std::atomic<int> armed;  // lock-free, so the handler may read it
};
TempSlot g_temp[kMaxTemporaryFiles];
std::mutex g_temp_mutex;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Async-signal-safe calls only. The signal stays blocked while the handler runs, so the raise
// takes effect as it returns, now with the default action: pelt dies of the same signal.
void RemoveTempAndDie(int sig) {
  for (const TempSlot& slot : g_temp) {
    if (slot.armed) ::unlink(slot.path);
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

sigset_t CleanupSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kCleanupSignals) sigaddset(&set, s);
  return set;
}

// Installed with the first output file. A signal that is ignored (nohup, a background job of a
// script) or already handled by someone else is left as it is.
void InstallCleanupHandlers() {
  static const bool installed = [] {
    struct sigaction sa = {};
    sa.sa_handler = RemoveTempAndDie;
    sa.sa_mask = CleanupSignalSet();
    for (int s : kCleanupSignals) {
      struct sigaction old = {};
      if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
        ::sigaction(s, &sa, nullptr);
    }
    return true;
  }();
  static_cast<void>(installed);
}

// Holds the cleanup signals back for its lifetime, so that the handler never sees a file that
// exists but is not yet recorded, nor a path half copied.
class SignalsHeld {
 public:
  SignalsHeld() {
    const sigset_t set = CleanupSignalSet();
    ::sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }

 private:
  sigset_t saved_;
};

// A slot's path is written while it is not armed, then armed, and the handler reads only armed
// slots.
void Arm(const std::string& path) {
  if (path.size() >= PATH_MAX) return;  // longer than any path open() takes
  const std::lock_guard<std::mutex> lock(g_temp_mutex);
  for (TempSlot& slot : g_temp) {
    if (slot.armed) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.armed = 1;
    return;
  }
}

// Called once the file is gone or renamed: a signal just before finds nothing to remove.
void Disarm(const std::string& path) {
  const std::lock_guard<std::mutex> lock(g_temp_mutex);
  for (TempSlot& slot : g_temp) {
    if (slot.armed && path == slot.path) {
      slot.armed = 0;
      return;
    }
  }
}

// ---- outputs --------------------------------------------------------------------------------

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
  InstallCleanupHandlers();
  std::string path = (dir.empty() ? std::string(".") : dir) + "/.pelt-XXXXXX";
  int fd;
  {
    SignalsHeld held;
    fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return Status::FromErrno(errno);
    Arm(path);
  }
  if (::fchmod(fd, 0666 & ~CurrentUmask()) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    Disarm(path);
    return Status::FromErrno(err);
  }
  return OutputFile(fd, dir.empty() ? std::string(".") : dir, std::move(path));
}

OutputFile::~OutputFile() {
  if (handle_ != InputFile::kNoHandle) ::close(static_cast<int>(handle_));
  if (!temp_path_.empty()) {
    ::unlink(temp_path_.c_str());
    Disarm(temp_path_);
  }
}

Status OutputFile::Write(std::span<const std::uint8_t> bytes) {
  return WriteAll(static_cast<int>(handle_), bytes.data(), bytes.size());
}

Status OutputFile::CopyFrom(const InputFile& in, std::uint64_t offset, std::uint64_t size) {
  const int in_fd = static_cast<int>(in.handle_), out_fd = static_cast<int>(handle_);
  auto off_in = static_cast<loff_t>(offset);
  std::uint64_t left = size;
  // The kernel copies (or shares extents) without the bytes passing through this process.
  while (left > 0) {
    const std::size_t want = left > (1u << 30) ? (1u << 30) : static_cast<std::size_t>(left);
    const ssize_t n = ::copy_file_range(in_fd, &off_in, out_fd, nullptr, want, 0);
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
    if (Status s = WriteAll(out_fd, buf.data(), n); !s.ok()) return s;
    pos += n;
    left -= n;
  }
  return Status::Ok();
}

Status OutputFile::Commit(const std::string& name) {
  const int fd = static_cast<int>(handle_);
  handle_ = InputFile::kNoHandle;
  if (::close(fd) != 0) return Status::FromErrno(errno);  // late write errors (NFS, quotas)
  const std::string final_path = dir_ + "/" + name;
  if (::rename(temp_path_.c_str(), final_path.c_str()) != 0) return Status::FromErrno(errno);
  Disarm(temp_path_);
  temp_path_.clear();
  return Status::Ok();
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

// ---- terminals ------------------------------------------------------------------------------

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

bool InConsoleOfItsOwn() { return false; }

std::thread StartWorker(std::function<void()> work) {
  // A new thread starts with its creator's signal mask.
  const sigset_t set = CleanupSignalSet();
  sigset_t saved;
  ::pthread_sigmask(SIG_BLOCK, &set, &saved);
  std::thread t(std::move(work));
  ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  return t;
}

unsigned UsableCores() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}

}  // namespace pelt
