#include "testutil.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace pelt::testing {

void PutU16(Bytes* b, std::uint16_t v) {
  b->push_back(static_cast<std::uint8_t>(v));
  b->push_back(static_cast<std::uint8_t>(v >> 8));
}

Bytes Patch32(Bytes b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
  return b;
}

Bytes MixBuilder::Build(bool names_first) const {
  Bytes out(16);
  Bytes index;
  Bytes names;
  PutU32(&index, static_cast<std::uint32_t>(entries_.size()));
  PutU32(&names, static_cast<std::uint32_t>(entries_.size()));
  for (const Entry& e : entries_) {
    PutI32(&index, 0);  // the id, which nothing reads
    PutI32(&index, e.offset.value_or(static_cast<std::int32_t>(out.size())));
    PutI32(&index, e.size.value_or(static_cast<std::int32_t>(e.data.size())));
    names.push_back(static_cast<std::uint8_t>(e.name.size()));
    Append(&names, e.name);
    Append(&out, e.data);
  }
  const Bytes& first = names_first ? names : index;
  const Bytes& second = names_first ? index : names;
  const auto first_at = static_cast<std::uint32_t>(out.size());
  const auto second_at = static_cast<std::uint32_t>(first_at + first.size());
  Append(&out, first);
  Append(&out, second);
  out = Patch32(std::move(out), 0, 0x4D495831);  // "1XIM"
  out = Patch32(std::move(out), 4, names_first ? second_at : first_at);
  return Patch32(std::move(out), 8, names_first ? first_at : second_at);
}

ModelBuilder& ModelBuilder::End() {
  const auto size = static_cast<std::uint32_t>(out_.size() - open_.back());
  out_ = Patch32(std::move(out_), open_.back() - 4, 0x80000000u | size);
  open_.pop_back();
  return *this;
}

Bytes ModelOf(std::initializer_list<std::string_view> names) {
  ModelBuilder m;
  for (std::string_view n : names) m.Texture(n);
  return m.Build();
}

std::uint32_t BlocksFor(std::uint32_t width, std::uint32_t height) {
  return ((width + 3) / 4) * ((height + 3) / 4);
}

Bytes DdsBuilder::Build() const {
  // "DDS "; the description's size, its flags (caps, height, width, pixel format, linear
  // size), the height and width; at 76, the pixel format's size, its flags (FourCC), the FourCC.
  Bytes out;
  for (std::uint32_t v : {0x20534444u, 124u, 0x000A1007u, height_, width_}) PutU32(&out, v);
  out.resize(76);
  for (std::uint32_t v : {32u, 4u, fourcc_}) PutU32(&out, v);
  out.resize(128);
  Append(&out, data_);
  std::uint32_t w = width_;
  std::uint32_t h = height_;
  while (mip_fill_ && (w > 1 || h > 1)) {
    w = std::max(1u, w / 2);
    h = std::max(1u, h / 2);
    out.insert(out.end(), BlocksFor(w, h) * block_size_, *mip_fill_);
  }
  return out;
}

Bytes RandomBlocks(Fmt f, std::size_t count, std::mt19937* rng) {
  const std::size_t size = BlockSize(f);
  Bytes out(count * size);  // either palette mode, either DXT5 alpha mode
  for (std::uint8_t& b : out) b = static_cast<std::uint8_t>((*rng)());
  for (std::size_t i = 3; i < count; i += 7)  // and now and then equal endpoints (three colours)
    std::copy_n(&out[i * size + size - 8], 2, &out[i * size + size - 6]);
  return out;
}

Bytes RandomDds(Fmt f, std::uint32_t width, std::uint32_t height, std::mt19937* rng) {
  return DdsBuilder(width, height)
      .Format(f)
      .Data(RandomBlocks(f, BlocksFor(width, height), rng))
      .Build();
}

TempDir::TempDir() {
  std::random_device random;
  while (path.empty()) {
    const auto p =
        std::filesystem::temp_directory_path() / ("pelt-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(p)) path = Utf8(p);
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(Path(path), ignored);
}

std::filesystem::path Path(const std::string& s) { return std::u8string(s.begin(), s.end()); }

std::string Utf8(const std::filesystem::path& p) {
  const std::u8string s = p.generic_u8string();
  return std::string(s.begin(), s.end());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(Path(path), std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::optional<Bytes> ReadFile(const std::string& path) {
  std::ifstream f(Path(path), std::ios::binary);
  if (!f) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

namespace {

// What a run printed. pelt.exe ends its lines with CRLF: they come back with LF, and a line ended
// by LF alone fails the run.
std::string Text(const std::string& path) {
  const Bytes b = ReadFile(path).value_or(Bytes{});
  std::string s(b.begin(), b.end());
#ifdef _WIN32
  for (std::size_t i = s.find('\n'); i != std::string::npos; i = s.find('\n', i)) {
    if (i == 0 || s[i - 1] != '\r') throw std::runtime_error("pelt.exe ended a line with LF alone");
    s.erase(i - 1, 1);
  }
#endif
  return s;
}

}  // namespace

#ifndef _WIN32
RunResult RunPelt(const std::vector<std::string>& args, const std::string& cwd,
                  const std::function<bool()>& interrupt_when) {
  std::vector<char*> argv = {const_cast<char*>(PELT_BINARY)};  // execv changes none of them
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const TempDir capture;
  const std::string out = capture / "out";
  const std::string err = capture / "err";
  const int out_fd = ::creat(out.c_str(), 0600);
  const int err_fd = ::creat(err.c_str(), 0600);
  if (out_fd < 0 || err_fd < 0) throw std::runtime_error("cannot capture pelt's output");
  const pid_t pid = ::fork();
  if (pid == 0) {  // the child: stdout and stderr into the files, then pelt
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    ::alarm(30);
    if (::chdir(cwd.c_str()) == 0) ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out_fd);
  ::close(err_fd);
  int status = 0;
  bool sent = !interrupt_when;
  while (::waitpid(pid, &status, sent ? 0 : WNOHANG) == 0) {
    sent = interrupt_when() && ::kill(pid, SIGINT) == 0;
    ::usleep(1000);
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {code, Text(out), Text(err)};
}
#else
// pelt.exe beside the test program, run by the command interpreter; its outer quotes are its own.
RunResult RunPelt(const std::vector<std::string>& args, const std::string& cwd,
                  const std::function<bool()>&) {
  std::wstring exe(MAX_PATH, L'\0');
  exe.resize(GetModuleFileNameW(nullptr, exe.data(), MAX_PATH));
  const TempDir capture;
  const std::string out = capture / "out";
  const std::string err = capture / "err";
  std::wstring line = L"\"cd /d \"" + Path(cwd).wstring() + L"\" && \"" +
                      exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"pelt.exe\"";
  for (const std::string& a : args) line += L" \"" + Path(a).wstring() + L"\"";
  line += L" >\"" + Path(out).wstring() + L"\" 2>\"" + Path(err).wstring() + L"\"\"";
  const int code = _wsystem(line.c_str());
  return {code, Text(out), Text(err)};
}
#endif

}  // namespace pelt::testing
