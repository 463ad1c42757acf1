#include "testutil.h"

#ifdef PELT_LIBPNG
#include <png.h>
#else
#include <zlib.h>
#endif

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
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace pelt::testing {

Bytes MixBuilder::Build(bool names_first) const {
  Bytes data;
  Bytes index;
  Bytes names;
  PutU32(&index, static_cast<std::uint32_t>(entries_.size()));
  PutU32(&names, static_cast<std::uint32_t>(entries_.size()));
  for (const Entry& e : entries_) {
    PutI32(&index, 0);  // the id, which nothing reads
    PutI32(&index, e.offset.value_or(static_cast<std::int32_t>(16 + data.size())));
    PutI32(&index, e.size.value_or(static_cast<std::int32_t>(e.data.size())));
    names.push_back(static_cast<std::uint8_t>(e.name.size()));
    Append(&names, e.name);
    Append(&data, e.data);
  }
  const auto tables = static_cast<std::uint32_t>(16 + data.size());
  Bytes out;
  PutU32(&out, 0x4D495831);  // "1XIM"
  PutU32(&out, tables + static_cast<std::uint32_t>(names_first ? names.size() : 0));
  PutU32(&out, tables + static_cast<std::uint32_t>(names_first ? 0 : index.size()));
  PutU32(&out, 0);
  for (const Bytes* part : {&data, names_first ? &names : &index, names_first ? &index : &names})
    Append(&out, *part);
  return out;
}

Bytes DdsBuilder::Build() const {
  // "DDS "; the description's size, its flags (caps, height, width, pixel format, linear
  // size), the height and width; at 76, the pixel format's size, flags, FourCC, bit count, masks.
  Bytes out;
  for (std::uint32_t v : {0x20534444u, 124u, 0x000A1007u, height_, width_}) PutU32(&out, v);
  out.resize(76);
  PutU32(&out, 32);
  for (std::uint32_t v : pf_) PutU32(&out, v);
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

Bytes TgaEntry::Build() const {
  Bytes out = {id_length, !map.empty(), type};
  PutU16(&out, map_first);
  PutU16(&out, static_cast<std::uint16_t>(map_depth ? map.size() / (map_depth / 8) : 0));
  out.push_back(map_depth);
  PutU32(&out, 0);  // the origin, which nothing reads
  PutU16(&out, width);
  PutU16(&out, height);
  out.push_back(depth);
  out.push_back(descriptor);
  out.resize(out.size() + id_length, 'i');
  for (const Bytes* part : {&map, &data, &footer}) Append(&out, *part);
  return out;
}

#ifdef PELT_LIBPNG
// Read by libpng, so that a fault of the writer is not hidden by the same fault in a reader.
Png ReadPng(const Bytes& f) {
  // The simplified reader stops after the image data: the file's end is checked here.
  const Bytes iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  if (f.size() < 12 || !std::equal(iend.begin(), iend.end(), f.end() - 12))
    throw std::runtime_error("bad PNG: no IEND chunk at its end");
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, f.data(), f.size())) {
    const bool colour = image.format & PNG_FORMAT_FLAG_COLOR;
    const bool alpha = image.format & PNG_FORMAT_FLAG_ALPHA;
    Png png = {image.width, image.height, std::uint8_t(colour * 2 + alpha * 4), {}};
    png.samples.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, png.samples.data(), 0, nullptr)) return png;
  }
  png_image_free(&image);
  throw std::runtime_error(std::string("bad PNG: ") + image.message);
}
#else
Png ReadPng(const Bytes& f) {
  auto be32 = [&f](std::size_t at) {  // f.at: a read past the end throws
    return std::uint32_t{f.at(at)} << 24 | f.at(at + 1) << 16 | f.at(at + 2) << 8 | f.at(at + 3);
  };
  auto check = [](bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("bad PNG ") + what);
  };
  check(be32(0) == 0x89504E47 && be32(4) == 0x0D0A1A0A, "signature");
  check(be32(8) == 13 && be32(12) == 0x49484452 && f.at(24) == 8 && be32(25) << 8 == 0, "IHDR");
  Png png = {be32(16), be32(20), f[25], {}};
  Bytes idat;
  std::size_t at = 8;
  for (std::uint32_t n = 0; be32(at + 4) != 0x49454E44; at += 12 + n) {  // to IEND
    n = be32(at);
    const std::uint32_t crc = be32(at + 8 + n);
    check(crc32(0, &f[at + 4], n + 4) == crc, "CRC");
    if (be32(at + 4) == 0x49444154) idat.insert(idat.end(), &f[at + 8], &f[at + 8] + n);
  }
  check(f.size() - at == 12, "end");
  const std::size_t channels = png.colour == 0 ? 1 : png.colour == 2 ? 3 : png.colour == 6 ? 4 : 0;
  const std::size_t row = png.width * channels;
  Bytes raw(png.height * (row + 1));
  uLongf size = raw.size();
  check(row > 0 && uncompress(raw.data(), &size, idat.data(), idat.size()) == Z_OK &&
            size == raw.size(),
        "data");
  png.samples.resize(png.height * row);
  std::uint8_t* const out = png.samples.data();
  for (std::size_t y = 0; y < png.height; ++y) {
    const std::uint8_t filter = raw[y * (row + 1)];
    check(filter <= 4, "filter");
    for (std::size_t i = 0, at = y * row; i < row; ++i, ++at) {
      const int a = i >= channels ? out[at - channels] : 0, b = y > 0 ? out[at - row] : 0;
      const int c = i >= channels && y > 0 ? out[at - channels - row] : 0;
      const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      const int predicted[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
      out[at] = static_cast<std::uint8_t>(raw[y * (row + 1) + 1 + i] + predicted[filter]);
    }
  }
  return png;
}
#endif

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
                  const std::function<bool()>& interrupt_when, std::uint64_t file_limit) {
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
    if (file_limit != 0) {  // a write past it fails with EFBIG, as on a full disk
      const rlimit limit = {file_limit, file_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      ::signal(SIGXFSZ, SIG_IGN);
    }
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
                  const std::function<bool()>&, std::uint64_t) {
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
