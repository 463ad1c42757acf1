// Test-support builders: archives, models and DDS entries made in memory from a description,
// and helpers to run the built pelt binary in a temporary directory. Tests describe their inputs
// with these; no binary fixture is copied from anywhere.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace pelt::testing {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view s);
void PutU16(Bytes* b, std::uint16_t v);
void PutU32(Bytes* b, std::uint32_t v);
void PutI32(Bytes* b, std::int32_t v);
// Overwrites 4 bytes at `at` with `v`, little-endian.
void Patch32(Bytes* b, std::size_t at, std::uint32_t v);
void Append(Bytes* b, const Bytes& more);

// A mix archive: header, entry data, index and name table. Layout by default:
// header | entries in order | index | name table. Everything can be moved or broken.
class MixBuilder {
 public:
  // An entry whose stored name is `name` followed by a NUL.
  MixBuilder& Add(std::string_view name, Bytes data);
  MixBuilder& Add(std::string_view name, std::string_view data) { return Add(name, ToBytes(data)); }
  // An entry whose stored name bytes are exactly `stored` (no NUL added; may be empty).
  MixBuilder& AddRawName(Bytes stored, Bytes data);
  MixBuilder& Id(std::int32_t id) { id_ = id; return *this; }
  MixBuilder& Zero(std::int32_t zero) { zero_ = zero; return *this; }
  MixBuilder& NamesBeforeIndex(bool on = true) { names_first_ = on; return *this; }
  // Index records with no name (the name count then falls below the index count).
  MixBuilder& ExtraIndexRecords(int n) { extra_index_ = n; return *this; }
  // Overrides of what Build() writes; the layout stays as computed.
  MixBuilder& IndexCount(std::int32_t n) { index_count_ = n; return *this; }
  MixBuilder& NameCount(std::int32_t n) { name_count_ = n; return *this; }
  MixBuilder& IndexOffset(std::int32_t v) { index_offset_ = v; return *this; }
  MixBuilder& TailerOffset(std::int32_t v) { tailer_offset_ = v; return *this; }
  // Overrides entry i's offset or size in the index.
  MixBuilder& EntryOffset(std::size_t i, std::int32_t v);
  MixBuilder& EntrySize(std::size_t i, std::int32_t v);

  Bytes Build() const;
  // Where Build() put things (valid after Build).
  std::uint32_t index_offset() const { return built_index_offset_; }
  std::uint32_t tailer_offset() const { return built_tailer_offset_; }
  std::uint32_t entry_offset(std::size_t i) const { return built_entry_offsets_.at(i); }

 private:
  struct Entry {
    Bytes stored_name;
    Bytes data;
    std::optional<std::int32_t> offset, size;
  };
  std::vector<Entry> entries_;
  std::int32_t id_ = 0x4D495831;
  std::int32_t zero_ = 0;
  bool names_first_ = false;
  int extra_index_ = 0;
  std::optional<std::int32_t> index_count_, name_count_, index_offset_, tailer_offset_;
  mutable std::uint32_t built_index_offset_ = 0, built_tailer_offset_ = 0;
  mutable std::vector<std::uint32_t> built_entry_offsets_;
};

// A kzm model: a stream of chunks (type, size, payload), containers marked by the top bit of the
// size word and holding sub-chunks.
class ModelBuilder {
 public:
  // A texture-name chunk (type 50) whose payload is `name` and a NUL.
  ModelBuilder& Texture(std::string_view name);
  // Any chunk with the given payload (size = payload length).
  ModelBuilder& Chunk(std::int32_t type, const Bytes& payload);
  // A chunk header with an explicit size word and no payload written.
  ModelBuilder& Header(std::int32_t type, std::uint32_t size_word);
  // Opens a container: a header whose size word is 0x80000000 | payload length, filled in at
  // the matching End().
  ModelBuilder& Begin(std::int32_t type = 0x0100);
  ModelBuilder& End();
  // Stray bytes (for example a tail shorter than a header).
  ModelBuilder& Raw(const Bytes& bytes);
  Bytes Build() const;

 private:
  Bytes out_;
  std::vector<std::size_t> open_;
};

// DDS entries: "DDS " magic, a 124-byte surface description, block data.
enum class Fmt { kDxt1, kDxt3, kDxt5 };
std::uint32_t FourCCOf(Fmt f);
std::size_t BlockBytes(Fmt f);  // 8 or 16
std::uint32_t BlocksFor(std::uint32_t width, std::uint32_t height);  // ceil(w/4) * ceil(h/4)

class DdsBuilder {
 public:
  DdsBuilder(std::uint32_t width, std::uint32_t height) : width_(width), height_(height) {}
  DdsBuilder& Format(Fmt f) { fourcc_ = FourCCOf(f); return *this; }
  DdsBuilder& FourCC(std::uint32_t code) { fourcc_ = code; return *this; }
  DdsBuilder& FourCC(std::string_view four);  // four characters in file order
  DdsBuilder& Magic(std::uint32_t magic) { magic_ = magic; return *this; }
  // Block data as given (may be short or long on purpose).
  DdsBuilder& Data(Bytes data) { data_ = std::move(data); return *this; }
  // Appends the smaller mipmap levels' blocks (filled with `fill`) after the data.
  DdsBuilder& Mipmaps(std::uint8_t fill = 0xA5) { mip_fill_ = fill; return *this; }
  Bytes Build() const;

 private:
  std::uint32_t width_, height_;
  std::uint32_t fourcc_ = 0x31545844;
  std::uint32_t magic_ = 0x20534444;  // "DDS "
  Bytes data_;
  std::optional<std::uint8_t> mip_fill_;
};

// Random blocks of a format: DXT1 blocks in both palette modes, DXT5 alpha halves in both
// alpha modes, every index pattern.
Bytes RandomBlocks(Fmt f, std::size_t count, std::mt19937* rng);
// A whole DDS entry of random blocks for a width x height surface.
Bytes RandomDds(Fmt f, std::uint32_t width, std::uint32_t height, std::mt19937* rng);

// A temporary directory, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Names of the files in the directory (or a subdirectory), sorted, dot files included.
  std::vector<std::string> List(std::string_view sub = "") const;

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const Bytes& bytes);
void WriteFile(const std::string& path, std::string_view text);
std::optional<Bytes> ReadFile(const std::string& path);

struct RunResult {
  int exit_code = -1;  // -1: killed by a signal (see signal)
  int signal = 0;
  std::string out, err;
};
struct RunLimits {
  std::optional<std::uint64_t> address_space_bytes;  // setrlimit(RLIMIT_AS) in the child
  // setrlimit(RLIMIT_FSIZE) in the child, with SIGXFSZ ignored: a write past the limit fails
  // with EFBIG instead of killing the process.
  std::optional<std::uint64_t> file_size_bytes;
  // File permissions bind the child even when the tests run as root (CAP_DAC_OVERRIDE and
  // CAP_DAC_READ_SEARCH are dropped from its bounding set before exec).
  bool obey_permissions = false;
};
// Runs the built pelt binary with `args` in the working directory `cwd`.
RunResult RunPelt(const std::vector<std::string>& args, const std::string& cwd,
                  const RunLimits& limits = {});
// Path of the built pelt binary.
std::string PeltBinary();

// A run's directories: inputs in root/in, the working directory root/work. Whatever lands
// outside work (or anywhere but in/ and work/ under root) was written where it must not be.
class RunScene {
 public:
  RunScene();
  std::string in() const { return root_ / "in"; }
  std::string work() const { return root_ / "work"; }
  std::string root() const { return root_.path(); }
  std::string archive() const { return in() + "/a.mix"; }
  std::string model() const { return in() + "/m.kzm"; }
  // Writes the archive and the model, then runs pelt on them in work().
  RunResult Run(const Bytes& archive, const Bytes& model, const RunLimits& limits = {}) const;
  // The files in work() (or a subdirectory of it), and in root.
  std::vector<std::string> Written(std::string_view sub = "") const;
  std::vector<std::string> Everything() const { return root_.List(); }
  std::optional<Bytes> Out(const std::string& name) const { return ReadFile(work() + "/" + name); }

 private:
  TempDir root_;
};

// A model of one texture-name chunk per name, in order.
Bytes ModelOf(std::initializer_list<std::string_view> names);

// The usage text pelt prints on stdout when it is given fewer than two file names.
inline constexpr char kUsage[] =
    "pelt usage:\n"
    "pelt filename.mix filename.kzm\n"
    "pelt takes the name of a korvane mix file (*.mix, *.dat or *.pkg) and the\n"
    "name of a kzm file and extracts all textures referenced by that kzm file";

// The lines of `text`, without their newlines; an unterminated last line counts.
std::vector<std::string> Lines(const std::string& text);

}  // namespace pelt::testing
