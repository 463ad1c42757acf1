// Test support: archives, models and DDS entries built in memory, a byte source over memory, a
// sink into memory, and runs of the built pelt binary. Tests describe their inputs with these;
// nothing is copied in.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "byte_source.h"
#include "dxt_format.h"
#include "sink.h"

namespace pelt::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }
// Little-endian, as the formats store numbers.
inline void PutU16(Bytes* b, std::uint16_t v) {
  b->push_back(static_cast<std::uint8_t>(v));
  b->push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutU32(Bytes* b, std::uint32_t v) {
  PutU16(b, static_cast<std::uint16_t>(v));
  PutU16(b, static_cast<std::uint16_t>(v >> 16));
}
inline void PutI32(Bytes* b, std::int32_t v) { PutU32(b, static_cast<std::uint32_t>(v)); }
inline Bytes Patch32(Bytes b, std::size_t at, std::uint32_t v) {  // `b` with `v` at `at`
  for (std::size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
  return b;
}
inline void Append(Bytes* b, const Bytes& more) { b->insert(b->end(), more.begin(), more.end()); }

// Bytes in memory as a ByteSource.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }

 private:
  Status Read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    std::copy_n(&bytes_[offset], out.size(), out.data());
    return Status::Ok();
  }
  std::span<const std::uint8_t> bytes_;
};

// A Sink that keeps what it is given.
struct MemorySink final : Sink {
  Status Write(std::span<const std::uint8_t> more) override {
    Append(&bytes, Bytes(more.begin(), more.end()));
    return Status::Ok();
  }
  Bytes bytes;
};

// A mix archive: the 16-byte header ("1XIM"), the entries' data in order, then the index and the
// name table (or the name table first). An entry's record may point anywhere.
class MixBuilder {
 public:
  MixBuilder& Add(std::string_view name, Bytes data) {  // stored as the name and a NUL
    return AddRawName(ToBytes(std::string(name) + '\0'), std::move(data));
  }
  MixBuilder& Add(std::string_view name, std::string_view data) { return Add(name, ToBytes(data)); }
  MixBuilder& AddRawName(Bytes name, Bytes data) {  // the stored name bytes as given
    entries_.push_back({std::move(name), std::move(data), {}, {}});
    return *this;
  }
  // The record of the last entry added points at `offset`, `size` bytes.
  MixBuilder& Place(std::int32_t offset, std::int32_t size) {
    entries_.back().offset = offset;
    entries_.back().size = size;
    return *this;
  }
  Bytes Build(bool names_first = false) const;

 private:
  struct Entry {
    Bytes name, data;
    std::optional<std::int32_t> offset, size;
  };
  std::vector<Entry> entries_;
};

// A kzm model: chunks of a type, a size word and a payload. A container's size word has the top
// bit set, and the chunks up to its End() are its payload.
class ModelBuilder {
 public:
  ModelBuilder& Header(std::int32_t type, std::uint32_t size_word) {  // no payload follows
    PutI32(&out_, type);
    PutU32(&out_, size_word);
    return *this;
  }
  ModelBuilder& Chunk(std::int32_t type, const Bytes& payload) {
    Header(type, static_cast<std::uint32_t>(payload.size()));
    Append(&out_, payload);
    return *this;
  }
  ModelBuilder& Texture(std::string_view name) {  // a type-50 chunk: the name and a NUL
    return Chunk(50, ToBytes(std::string(name) + '\0'));
  }
  ModelBuilder& Begin(std::int32_t type = 0x100) {
    Header(type, 0x80000000u);
    open_.push_back(out_.size());
    return *this;
  }
  ModelBuilder& End() {
    const auto size = static_cast<std::uint32_t>(out_.size() - open_.back());
    out_ = Patch32(std::move(out_), open_.back() - 4, 0x80000000u | size);
    open_.pop_back();
    return *this;
  }
  Bytes Build() const { return out_; }

 private:
  Bytes out_;
  std::vector<std::size_t> open_;
};

// A model of one texture-name chunk per name, in order.
inline Bytes ModelOf(std::initializer_list<std::string_view> names) {
  ModelBuilder m;
  for (std::string_view n : names) m.Texture(n);
  return m.Build();
}

// DDS entries: "DDS ", the 124-byte surface description, block data.
using Fmt = DxtFormat;
inline std::uint32_t BlocksFor(std::uint32_t width, std::uint32_t height) {
  return ((width + 3) / 4) * ((height + 3) / 4);
}

class DdsBuilder {
 public:
  DdsBuilder(std::uint32_t width, std::uint32_t height) : width_(width), height_(height) {}
  DdsBuilder& Format(Fmt f) {
    block_size_ = BlockSize(f);
    return FourCC(0x00545844 | (0x31u + 2 * static_cast<unsigned>(f)) << 24);  // "DXT1", "DXT3"...
  }
  DdsBuilder& FourCC(std::uint32_t code) {  // the flags stay as they are
    pf_[1] = code;
    return *this;
  }
  // A FourCC of 0: the pixel format's flags, bit count and masks red, green, blue, alpha.
  DdsBuilder& Masks(std::uint32_t flags, std::uint32_t bits, std::uint32_t r, std::uint32_t g,
                    std::uint32_t b, std::uint32_t a) {
    pf_ = {flags, 0, bits, r, g, b, a};
    return *this;
  }
  DdsBuilder& Data(Bytes data) {  // short or long at will
    data_ = std::move(data);
    return *this;
  }
  // Appends the smaller mipmap levels' blocks of the Format(), filled with `fill`, after the data
  // (for any other format, just bytes that follow it).
  DdsBuilder& Mipmaps(std::uint8_t fill = 0xA5) {
    mip_fill_ = fill;
    return *this;
  }
  Bytes Build() const;

 private:
  std::uint32_t width_, height_;
  // The pixel format after its size: flags (FourCC), FourCC ("DXT1"), bit count, four masks.
  std::array<std::uint32_t, 7> pf_ = {4, 0x31545844, 0, 0, 0, 0, 0};
  std::uint32_t block_size_ = 8;
  Bytes data_;
  std::optional<std::uint8_t> mip_fill_;
};

// Random blocks: DXT1 blocks in both palette modes, DXT5 alpha halves in both alpha modes, and
// every seventh block's colour endpoints equal.
Bytes RandomBlocks(Fmt f, std::size_t count, std::mt19937* rng);
// A whole DDS entry of random blocks for a width x height surface.
Bytes RandomDds(Fmt f, std::uint32_t width, std::uint32_t height, std::mt19937* rng);

// A TGA entry: the 18-byte header, `id_length` bytes of image ID, the colour map (present when
// not empty: entries of map_depth bits from index map_first), the data, then `footer`.
struct TgaEntry {
  std::uint8_t type = 2, depth = 24, descriptor = 0x20;
  std::uint16_t width = 1, height = 1;
  Bytes data = {}, map = {};
  std::uint8_t map_depth = 0, id_length = 0;
  std::uint16_t map_first = 0;
  Bytes footer = {};
  Bytes Build() const;
};

// A PNG file read back: by libpng on Linux; where libpng is not at hand (Windows) by the tests' own
// reader, on zlib's inflate: IHDR first, 8-bit samples, no interlacing; chunks with matching CRCs
// up to IEND, which ends the file; rows of any of the five filters. Throws on a file it refuses.
struct Png {
  std::uint32_t width = 0, height = 0;
  std::uint8_t colour = 0;  // 0 grey, 2 RGB, 6 RGBA
  Bytes samples;            // top row first
};
Png ReadPng(const Bytes& file);

// A fresh directory under the system's temporary directory, removed with its contents.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(std::string_view name) const { return path + "/" + std::string(name); }
  std::string path;
};

// Paths in the tests are UTF-8 strings, on Windows too.
std::filesystem::path Path(const std::string& s);
std::string Utf8(const std::filesystem::path& p);
void WriteFile(const std::string& path, const Bytes& bytes);  // throws when it cannot
std::optional<Bytes> ReadFile(const std::string& path);

struct RunResult {
  int exit_code = -1;  // 128 + the signal that killed pelt, if one did
  std::string out, err;
};
// Runs the built pelt with `args` in the directory `cwd`. `interrupt_when` is polled every
// millisecond while pelt runs; once it returns true, pelt is sent SIGINT. With a `file_limit`, no
// file can grow past that many bytes (neither is done on Windows). A run that takes over 30
// seconds is killed (SIGALRM), so a pelt that blocks fails its test instead of hanging it.
RunResult RunPelt(const std::vector<std::string>& args, const std::string& cwd,
                  const std::function<bool()>& interrupt_when = {}, std::uint64_t file_limit = 0);

}  // namespace pelt::testing

// A fuzz target's check: a broken invariant stops the process, so that libFuzzer keeps the input
// and the replay main fails.
#define PELT_FUZZ_CHECK(cond)                                                           \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                     \
    }                                                                                   \
  } while (false)
