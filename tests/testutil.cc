#include "testutil.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pelt::testing {

Bytes ToBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

void PutU16(Bytes* b, std::uint16_t v) {
  b->push_back(static_cast<std::uint8_t>(v));
  b->push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutU32(Bytes* b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutI32(Bytes* b, std::int32_t v) { PutU32(b, static_cast<std::uint32_t>(v)); }
void Patch32(Bytes* b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b->at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void Append(Bytes* b, const Bytes& more) { b->insert(b->end(), more.begin(), more.end()); }

// ---- archives -------------------------------------------------------------------------------

MixBuilder& MixBuilder::Add(std::string_view name, Bytes data) {
  Bytes stored = ToBytes(name);
  stored.push_back(0);
  return AddRawName(std::move(stored), std::move(data));
}

MixBuilder& MixBuilder::AddRawName(Bytes stored, Bytes data) {
  entries_.push_back(Entry{std::move(stored), std::move(data), std::nullopt, std::nullopt});
  return *this;
}

MixBuilder& MixBuilder::EntryOffset(std::size_t i, std::int32_t v) {
  entries_.at(i).offset = v;
  return *this;
}
MixBuilder& MixBuilder::EntrySize(std::size_t i, std::int32_t v) {
  entries_.at(i).size = v;
  return *this;
}

Bytes MixBuilder::Build() const {
  Bytes out(16, 0);
  built_entry_offsets_.clear();
  for (const Entry& e : entries_) {
    built_entry_offsets_.push_back(static_cast<std::uint32_t>(out.size()));
    Append(&out, e.data);
  }
  auto put_index = [&] {
    built_index_offset_ = static_cast<std::uint32_t>(out.size());
    PutI32(&out, index_count_.value_or(static_cast<std::int32_t>(entries_.size()) + extra_index_));
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      PutI32(&out, static_cast<std::int32_t>(1000 + i));
      PutI32(&out, entries_[i].offset.value_or(static_cast<std::int32_t>(built_entry_offsets_[i])));
      PutI32(&out, entries_[i].size.value_or(static_cast<std::int32_t>(entries_[i].data.size())));
    }
    for (int i = 0; i < extra_index_; ++i) {
      PutI32(&out, 9000 + i);
      PutI32(&out, 16);
      PutI32(&out, 0);
    }
  };
  auto put_names = [&] {
    built_tailer_offset_ = static_cast<std::uint32_t>(out.size());
    PutI32(&out, name_count_.value_or(static_cast<std::int32_t>(entries_.size())));
    for (const Entry& e : entries_) {
      out.push_back(static_cast<std::uint8_t>(e.stored_name.size()));
      Append(&out, e.stored_name);
    }
  };
  if (names_first_) {
    put_names();
    put_index();
  } else {
    put_index();
    put_names();
  }
  Patch32(&out, 0, static_cast<std::uint32_t>(id_));
  Patch32(&out, 4, static_cast<std::uint32_t>(index_offset_.value_or(
                       static_cast<std::int32_t>(built_index_offset_))));
  Patch32(&out, 8, static_cast<std::uint32_t>(tailer_offset_.value_or(
                       static_cast<std::int32_t>(built_tailer_offset_))));
  Patch32(&out, 12, static_cast<std::uint32_t>(zero_));
  return out;
}

// ---- models ---------------------------------------------------------------------------------

ModelBuilder& ModelBuilder::Texture(std::string_view name) {
  Bytes payload = ToBytes(name);
  payload.push_back(0);
  return Chunk(50, payload);
}

ModelBuilder& ModelBuilder::Chunk(std::int32_t type, const Bytes& payload) {
  Header(type, static_cast<std::uint32_t>(payload.size()));
  Append(&out_, payload);
  return *this;
}

ModelBuilder& ModelBuilder::Header(std::int32_t type, std::uint32_t size_word) {
  PutI32(&out_, type);
  PutU32(&out_, size_word);
  return *this;
}

ModelBuilder& ModelBuilder::Begin(std::int32_t type) {
  Header(type, 0x80000000u);
  open_.push_back(out_.size());
  return *this;
}

ModelBuilder& ModelBuilder::End() {
  const std::size_t start = open_.back();
  open_.pop_back();
  Patch32(&out_, start - 4, 0x80000000u | static_cast<std::uint32_t>(out_.size() - start));
  return *this;
}

ModelBuilder& ModelBuilder::Raw(const Bytes& bytes) {
  Append(&out_, bytes);
  return *this;
}

Bytes ModelBuilder::Build() const { return out_; }

// ---- DDS ------------------------------------------------------------------------------------

std::uint32_t FourCCOf(Fmt f) {
  switch (f) {
    case Fmt::kDxt1: return 0x31545844;
    case Fmt::kDxt3: return 0x33545844;
    case Fmt::kDxt5: return 0x35545844;
  }
  return 0;
}

std::size_t BlockBytes(Fmt f) { return f == Fmt::kDxt1 ? 8 : 16; }

std::uint32_t BlocksFor(std::uint32_t width, std::uint32_t height) {
  return ((width + 3) / 4) * ((height + 3) / 4);
}

DdsBuilder& DdsBuilder::FourCC(std::string_view four) {
  fourcc_ = 0;
  for (std::size_t i = 0; i < 4 && i < four.size(); ++i)
    fourcc_ |= std::uint32_t{static_cast<std::uint8_t>(four[i])} << (8 * i);
  return *this;
}

Bytes DdsBuilder::Build() const {
  Bytes out;
  PutU32(&out, magic_);
  Bytes desc(124, 0);
  Patch32(&desc, 0, 124);                      // dwSize
  Patch32(&desc, 4, 0x000A1007);               // caps | height | width | pixel format | ...
  Patch32(&desc, 8, height_);                  // dwHeight
  Patch32(&desc, 12, width_);                  // dwWidth
  Patch32(&desc, 72, 32);                      // ddpfPixelFormat.dwSize
  Patch32(&desc, 76, 0x4);                     // ddpfPixelFormat.dwFlags: FourCC
  Patch32(&desc, 80, fourcc_);                 // ddpfPixelFormat.dwFourCC
  Patch32(&desc, 104, 0x1000);                 // ddsCaps.dwCaps: texture
  Append(&out, desc);
  Append(&out, data_);
  if (mip_fill_) {
    const std::size_t block = fourcc_ == 0x31545844 ? 8 : 16;
    std::uint32_t w = width_, h = height_;
    while (w > 1 || h > 1) {
      w = std::max(1u, w / 2);
      h = std::max(1u, h / 2);
      out.insert(out.end(), BlocksFor(w, h) * block, *mip_fill_);
    }
  }
  return out;
}

Bytes RandomBlocks(Fmt f, std::size_t count, std::mt19937* rng) {
  Bytes out;
  out.reserve(count * BlockBytes(f));
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t i = 0; i < count; ++i) {
    if (f == Fmt::kDxt5) {
      // Both alpha modes: alpha0 > alpha1 (eight alphas) or alpha0 <= alpha1 (six + 0, 255).
      std::uint8_t a0 = static_cast<std::uint8_t>(byte(*rng));
      std::uint8_t a1 = static_cast<std::uint8_t>(byte(*rng));
      if ((i & 1) != 0 && a0 > a1) std::swap(a0, a1);
      if ((i & 1) == 0 && a0 < a1) std::swap(a0, a1);
      out.push_back(a0);
      out.push_back(a1);
      for (int k = 0; k < 6; ++k) out.push_back(static_cast<std::uint8_t>(byte(*rng)));
    } else if (f == Fmt::kDxt3) {
      for (int k = 0; k < 8; ++k) out.push_back(static_cast<std::uint8_t>(byte(*rng)));
    }
    // Colour half: both endpoint orders, equal endpoints now and then.
    std::uint16_t c0 = static_cast<std::uint16_t>(byte(*rng) | byte(*rng) << 8);
    std::uint16_t c1 = static_cast<std::uint16_t>(byte(*rng) | byte(*rng) << 8);
    if (i % 7 == 3) c1 = c0;
    else if ((i & 2) != 0 && c0 > c1) std::swap(c0, c1);
    PutU16(&out, c0);
    PutU16(&out, c1);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(byte(*rng)));
  }
  return out;
}

Bytes RandomDds(Fmt f, std::uint32_t width, std::uint32_t height, std::mt19937* rng) {
  return DdsBuilder(width, height).Format(f).Data(RandomBlocks(f, BlocksFor(width, height), rng)).Build();
}

// ---- files and processes --------------------------------------------------------------------

#ifdef _WIN32
namespace {
// Test paths are UTF-8, as pelt.exe's arguments are. One that is not holds an entry name's bytes,
// which pelt.exe reads in the ANSI code page; listed names come back in that code page too.
std::wstring Wide(const std::string& s) {
  UINT page = CP_UTF8;
  const int size = static_cast<int>(s.size());
  int n = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, s.data(), size, nullptr, 0);
  if (n == 0) n = MultiByteToWideChar(page = CP_ACP, 0, s.data(), size, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(page, 0, s.data(), size, w.data(), n);
  return w;
}
std::string Narrow(const std::wstring& w, UINT page = CP_UTF8) {
  const int size = static_cast<int>(w.size());
  const int n = WideCharToMultiByte(page, 0, w.data(), size, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(page, 0, w.data(), size, s.data(), n, nullptr, nullptr);
  return s;
}
std::filesystem::path Native(const std::string& path) { return Wide(path); }
}  // namespace

TempDir::TempDir() {
  for (unsigned n = GetTickCount();; ++n) {
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("pelt-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(n));
    if (std::filesystem::create_directory(dir)) {
      path_ = Narrow(dir.wstring());
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(Native(path_), ec);
}

std::vector<std::string> TempDir::List(std::string_view sub) const {
  std::vector<std::string> names;
  std::error_code ec;
  const std::string dir = sub.empty() ? path_ : path_ + "/" + std::string(sub);
  for (const auto& e : std::filesystem::directory_iterator(Native(dir), ec))
    names.push_back(Narrow(e.path().filename().wstring(), CP_ACP));
  std::sort(names.begin(), names.end());
  return names;
}
#else
const std::string& Native(const std::string& path) { return path; }

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/pelt-test-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make everything writable again first: tests take write permission away on purpose.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      ::chmod(it->path().c_str(), 0755);
  }
  ::chmod(path_.c_str(), 0755);
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> TempDir::List(std::string_view sub) const {
  std::vector<std::string> names;
  const std::string dir = sub.empty() ? path_ : path_ + "/" + std::string(sub);
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}
#endif

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(Native(path), std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, std::string_view text) { WriteFile(path, ToBytes(text)); }

std::optional<Bytes> ReadFile(const std::string& path) {
  std::ifstream f(Native(path), std::ios::binary);
  if (!f) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}


std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

RunScene::RunScene() {
  std::filesystem::create_directory(in());
  std::filesystem::create_directory(work());
}

RunResult RunScene::Run(const Bytes& archive, const Bytes& model, const RunLimits& limits) const {
  WriteFile(this->archive(), archive);
  WriteFile(this->model(), model);
  return RunPelt({this->archive(), this->model()}, work(), limits);
}

std::vector<std::string> RunScene::Written(std::string_view sub) const {
  return root_.List(sub.empty() ? std::string("work") : "work/" + std::string(sub));
}

Bytes ModelOf(std::initializer_list<std::string_view> names) {
  ModelBuilder m;
  for (std::string_view n : names) m.Texture(n);
  return m.Build();
}

#ifdef _WIN32
// The program runs beside the test program.
std::string PeltBinary() {
  std::wstring self(MAX_PATH, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
  return Narrow(self.substr(0, self.find_last_of(L"\\/") + 1) + L"pelt.exe");
}

namespace {
// Quoted as the C runtime splits a command line: backslashes double only before a quote.
std::wstring Quoted(const std::wstring& arg) {
  std::wstring q = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'"') q.append(slashes + 1, L'\\');
    slashes = c == L'\\' ? slashes + 1 : 0;
    q += c;
  }
  return q.append(slashes, L'\\') + L'"';
}
}  // namespace

RunResult RunPelt(const std::vector<std::string>& args, const std::string& cwd, const RunLimits&) {
  std::wstring line = Quoted(Wide(PeltBinary()));
  for (const std::string& a : args) line += L" " + Quoted(Wide(a));
  TempDir capture;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  auto open = [&](const std::wstring& path, DWORD access, DWORD how) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, how, 0,
                       nullptr);
  };
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = open(L"NUL", GENERIC_READ, OPEN_EXISTING);
  si.hStdOutput = open(Wide(capture / "out"), GENERIC_WRITE, CREATE_ALWAYS);
  si.hStdError = open(Wide(capture / "err"), GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, Wide(cwd).c_str(),
                      &si, &pi))
    throw std::runtime_error("cannot run " + PeltBinary());
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  for (HANDLE h : {pi.hProcess, pi.hThread, si.hStdInput, si.hStdOutput, si.hStdError})
    CloseHandle(h);
  RunResult r;
  r.exit_code = static_cast<int>(code);
  // Lines end with CRLF, as Windows programs print them; the tests see LF.
  for (auto [file, text] : {std::pair{"out", &r.out}, std::pair{"err", &r.err}}) {
    const Bytes raw = ReadFile(capture / file).value_or(Bytes{});
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r'))
        throw std::runtime_error("pelt.exe ended a line with LF alone");
      if (raw[i] != '\r' || i + 1 == raw.size() || raw[i + 1] != '\n') text->push_back(raw[i]);
    }
  }
  return r;
}
#else
std::string PeltBinary() { return PELT_BINARY; }

namespace {

std::string Slurp(int fd) {
  std::string s;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    s.append(buf, static_cast<std::size_t>(n));
  }
  return s;
}

}  // namespace

RunResult RunPelt(const std::vector<std::string>& args, const std::string& cwd,
                  const RunLimits& limits) {
  // stdout and stderr go to temporary files: no pipe can fill up while we wait.
  TempDir capture;
  const std::string out_path = capture / "out", err_path = capture / "err";
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (limits.address_space_bytes) {
      rlimit r{*limits.address_space_bytes, *limits.address_space_bytes};
      ::setrlimit(RLIMIT_AS, &r);
    }
    if (limits.file_size_bytes) {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit r{*limits.file_size_bytes, *limits.file_size_bytes};
      ::setrlimit(RLIMIT_FSIZE, &r);
    }
    if (limits.obey_permissions && ::geteuid() == 0) {
      if (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0 ||
          ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0)
        ::_exit(126);
    }
    std::vector<char*> argv;
    std::string bin = PeltBinary();
    argv.push_back(bin.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(bin.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  RunResult r;
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  const int out = ::open(out_path.c_str(), O_RDONLY);
  const int err = ::open(err_path.c_str(), O_RDONLY);
  if (out >= 0) r.out = Slurp(out), ::close(out);
  if (err >= 0) r.err = Slurp(err), ::close(err);
  return r;
}

#endif

}  // namespace pelt::testing
