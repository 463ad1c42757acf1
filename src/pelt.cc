#include "pelt.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "dds.h"
#include "dxt_paths.h"
#include "mix_reader.h"
#include "model_scan.h"
#include "names.h"
#include "platform.h"
#include "tga.h"

namespace pelt {

namespace {

static_assert(std::endian::native == std::endian::little,
              "decoded pixel words are written to files as they lie in memory");

constexpr char kUsage[] =
    "pelt usage:\n"
    "pelt filename.mix filename.kzm\n"
    "pelt takes the name of a korvane mix file (*.mix, *.dat or *.pkg) and the\n"
    "name of a kzm file and extracts all textures referenced by that kzm file";

constexpr char kOptionsHelp[] =
    "\n"
    "\n"
    "options (before the file names):\n"
    "  -o, --output-dir DIR  write the textures into DIR, creating it when missing\n"
    "  -l, --list            list the textures the model refers to and where the\n"
    "                        archive holds them; write nothing\n"
    "      --strict-tga      write 0x28 in the TGA image descriptor instead of 0x2F\n"
    "                        (for readers that refuse 15 attribute bits)\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "  --                    end of options\n";

// Pixel data is decoded and written in bands of about this many bytes, whatever the surface.
constexpr std::size_t kBandBytes = 1u << 20;

// The kernel copies a write() into the page cache at a fraction of its speed when the source
// address lies a few bytes behind the file offset within a 64-byte line, and the 18-byte TGA
// header puts the pixels there in a line-aligned buffer: write() took 2.5 times as long. So each
// band is decoded at the place in its buffer whose address is 2 bytes ahead of its file offset
// within the line, the closest a 4-byte pixel can get (pixel file offsets are 2 past a multiple
// of 4).
constexpr std::size_t kLineBytes = 64;
constexpr std::size_t kLinePixels = kLineBytes / sizeof(BgraPixel);

// The first pixel at or after `base` that lies 2 bytes ahead of `file_offset` within a line.
BgraPixel* PlaceForWrite(BgraPixel* base, std::uint64_t file_offset) {
  const std::size_t have = reinterpret_cast<std::uintptr_t>(base) % kLineBytes;
  const std::size_t want = static_cast<std::size_t>((file_offset + 2) % kLineBytes);
  return base + (want + kLineBytes - have) % kLineBytes / sizeof(BgraPixel);
}

Status CheckBounds(const t_mix_kv_index_entry& e, std::uint64_t archive_size) {
  if (e.offset < 0 || e.size < 0 || static_cast<std::uint64_t>(e.offset) > archive_size ||
      static_cast<std::uint64_t>(e.size) > archive_size - static_cast<std::uint64_t>(e.offset)) {
    return Status::Corrupt("entry lies outside the archive (offset " + std::to_string(e.offset) +
                           ", size " + std::to_string(e.size) + ", archive " +
                           std::to_string(archive_size) + " bytes)");
  }
  return Status::Ok();
}

class Extractor {
 public:
  Extractor(const Options& options, std::FILE* out, std::FILE* err)
      : options_(options), out_(out), err_(err) {}

  int Run();

 private:
  void Report(std::string_view subject, std::string_view reason) {
    std::fprintf(err_, "pelt: %s: %.*s\n", Printable(subject).c_str(),
                 static_cast<int>(reason.size()), reason.data());
    std::fflush(err_);
    reported_ = true;
  }
  void Announce(const std::string& name) {
    std::fprintf(out_, "now writing %s\n", name.c_str());
    std::fflush(out_);
  }
  bool Wanted(const std::string& lowered) const { return wanted_.count(lowered) != 0; }
  std::string OutputDir() const {
    return options_.output_dir.empty() ? std::string(".") : options_.output_dir;
  }

  void ExtractTga(const t_mix_kv_index_entry& entry, const std::string& name);
  void ConvertDds(const t_mix_kv_index_entry& entry, const std::string& name);
  Status WriteSurface(OutputFile* file, const t_mix_kv_index_entry& entry, const DdsSurface& s);
  // Reads a DDS entry's first bytes and checks them.
  Result<DdsSurface> CheckDds(const t_mix_kv_index_entry& entry);
  int List(const ModelTextures& textures);

  const Options& options_;
  std::FILE* out_;
  std::FILE* err_;
  bool reported_ = false;
  std::optional<MixArchive> archive_;
  std::unordered_set<std::string> wanted_;  // lower-cased texture names
  std::vector<std::uint8_t> blocks_;        // one band of compressed block rows
  std::vector<BgraPixel> pixels_;           // one band of decoded pixel rows
};

int Extractor::Run() {
  auto archive = LoadMixDirectory(options_.archive);
  if (!archive.ok()) {
    Report(options_.archive, archive.status().message());
    return kExitReported;
  }
  archive_.emplace(std::move(*archive));
  auto textures = CollectTextureNames(options_.model);
  if (!textures.ok()) {
    Report(options_.model, textures.status().message());
    return kExitReported;
  }
  if (textures->name_cut_short) {
    Report(options_.model, "texture-name chunk at offset " +
                               std::to_string(textures->cut_short_offset) +
                               " is cut short by the end of the file; its name is dropped");
  }
  for (std::string name : textures->texturenames) {
    LowerAscii(&name);
    wanted_.insert(std::move(name));
  }
  if (options_.list) {
    const int status = List(*textures);
    return reported_ ? kExitReported : status;
  }
  if (!options_.output_dir.empty()) {
    if (Status s = MakeDirectories(options_.output_dir); !s.ok()) {
      Report(options_.output_dir, s.message());
      return kExitReported;
    }
  }

  const MixDirectory& dir = archive_->dir;
  for (std::size_t i = 0; i < dir.filenames.size(); ++i) {
    // The TGA step copies the entry as it is; the DDS step, after it, converts.
    const StepNames names = OutputNames(dir.filenames[i]);
    if (names.tga && Wanted(*names.tga)) ExtractTga(dir.indexhead[i], *names.tga);
    if (names.dds && Wanted(*names.dds)) ConvertDds(dir.indexhead[i], *names.dds);
  }
  return reported_ ? kExitReported : kExitOk;
}

void Extractor::ExtractTga(const t_mix_kv_index_entry& entry, const std::string& name) {
  if (!IsPlainFileName(name)) return Report(name, "not a plain file name; not written");
  if (Status s = CheckBounds(entry, archive_->dir.archive_size); !s.ok())
    return Report(name, s.message());
  auto file = OutputFile::Create(OutputDir());
  if (!file.ok()) return Report(name, file.status().message());
  Announce(name);
  const auto offset = static_cast<std::uint64_t>(entry.offset);
  const auto size = static_cast<std::uint64_t>(entry.size);
  if (Status s = file->CopyFrom(archive_->file, offset, size); !s.ok())
    return Report(name, s.message());
  if (Status s = file->Commit(name); !s.ok()) return Report(name, s.message());
}

Result<DdsSurface> Extractor::CheckDds(const t_mix_kv_index_entry& entry) {
  if (Status s = CheckBounds(entry, archive_->dir.archive_size); !s.ok()) return s;
  std::array<std::uint8_t, kDdsHeaderSize> head{};
  const std::size_t n = std::min<std::size_t>(kDdsHeaderSize, static_cast<std::size_t>(entry.size));
  if (Status s =
          archive_->file.ReadAt(static_cast<std::uint64_t>(entry.offset), std::span(head).first(n));
      !s.ok())
    return s;
  return CheckDdsEntry(std::span(head).first(n), static_cast<std::uint64_t>(entry.size));
}

void Extractor::ConvertDds(const t_mix_kv_index_entry& entry, const std::string& name) {
  if (!IsPlainFileName(name)) return Report(name, "not a plain file name; not written");
  // Every check passes before the file is created and announced.
  auto surface = CheckDds(entry);
  if (!surface.ok()) return Report(name, surface.status().message());
  auto file = OutputFile::Create(OutputDir());
  if (!file.ok()) return Report(name, file.status().message());
  Announce(name);
  if (Status s = WriteSurface(&*file, entry, *surface); !s.ok()) return Report(name, s.message());
  if (Status s = file->Commit(name); !s.ok()) return Report(name, s.message());
}

// Writes the TGA header, then decodes and writes the surface a band of block rows at a time, so
// memory stays at one band whatever the surface's size.
Status Extractor::WriteSurface(OutputFile* file, const t_mix_kv_index_entry& entry,
                               const DdsSurface& s) {
  const auto header = EncodeTgaHeader(
      MakeTgaHeader(static_cast<std::uint16_t>(s.width), static_cast<std::uint16_t>(s.height),
                    options_.strict_tga ? kTgaDescriptorStrict : kTgaDescriptor));
  if (Status st = file->Write(header); !st.ok()) return st;
  std::uint64_t written = header.size();

  const std::size_t stride = std::size_t{s.xblocks} * 4;  // pixels per decoded row
  const std::size_t block_row_pixels = stride * 4;
  const std::size_t block_row_bytes = std::size_t{s.xblocks} * BlockSize(s.format);
  const std::uint32_t band = static_cast<std::uint32_t>(
      std::max<std::size_t>(1, kBandBytes / (block_row_pixels * sizeof(BgraPixel))));
  const std::uint32_t band_rows = std::min(band, s.yblocks);
  if (pixels_.size() < block_row_pixels * band_rows + kLinePixels)
    pixels_.resize(block_row_pixels * band_rows + kLinePixels);
  if (blocks_.size() < block_row_bytes * band_rows) blocks_.resize(block_row_bytes * band_rows);

  const std::uint64_t data_offset = static_cast<std::uint64_t>(entry.offset) + kDdsHeaderSize;
  for (std::uint32_t by = 0; by < s.yblocks; by += band_rows) {
    const std::uint32_t rows = std::min(band_rows, s.yblocks - by);
    const std::span<std::uint8_t> blocks = std::span(blocks_).first(block_row_bytes * rows);
    if (Status st =
            archive_->file.ReadAt(data_offset + std::uint64_t{by} * block_row_bytes, blocks);
        !st.ok())
      return st;
    BgraPixel* const pixels = PlaceForWrite(pixels_.data(), written);
    DecodeBlockRows(s.format, blocks.data(), s.xblocks, rows, pixels, stride);
    // Clip the bottom edge, and close up the rows when the right edge was clipped.
    const std::size_t out_rows = std::min<std::size_t>(std::size_t{rows} * 4, s.height - by * 4u);
    if (s.width != stride) {
      for (std::size_t r = 1; r < out_rows; ++r)
        std::memmove(&pixels[r * s.width], &pixels[r * stride], s.width * sizeof(BgraPixel));
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(pixels);
    const std::size_t n = out_rows * s.width * sizeof(BgraPixel);
    if (Status st = file->Write(std::span(bytes, n)); !st.ok()) return st;
    written += n;
  }
  return Status::Ok();
}

// Prints each distinct texture (model order, first spelling) with the entry a normal run would
// leave on disk for it, or "missing".
int Extractor::List(const ModelTextures& textures) {
  struct Found {
    std::string entry;
    std::string what;
  };
  struct Candidates {
    std::optional<Found> good, bad;
  };
  std::unordered_map<std::string, Candidates> found;
  const MixDirectory& dir = archive_->dir;
  for (std::size_t i = 0; i < dir.filenames.size(); ++i) {
    const t_mix_kv_index_entry& e = dir.indexhead[i];
    const StepNames names = OutputNames(dir.filenames[i]);
    if (names.tga && Wanted(*names.tga)) {
      Candidates& c = found[*names.tga];
      if (!IsPlainFileName(*names.tga))
        c.bad = Found{dir.filenames[i], "not a plain file name"};
      else if (Status s = CheckBounds(e, dir.archive_size); !s.ok())
        c.bad = Found{dir.filenames[i], s.message()};
      else
        c.good = Found{dir.filenames[i], "tga " + std::to_string(e.size) + " bytes"};
    }
    if (names.dds && Wanted(*names.dds)) {
      Candidates& c = found[*names.dds];
      if (!IsPlainFileName(*names.dds)) {
        c.bad = Found{dir.filenames[i], "not a plain file name"};
      } else if (auto surface = CheckDds(e); !surface.ok()) {
        c.bad = Found{dir.filenames[i], surface.status().message()};
      } else {
        c.good = Found{dir.filenames[i], std::string("dds ") + FormatName(surface->format) + " " +
                                             std::to_string(surface->width) + "x" +
                                             std::to_string(surface->height)};
      }
    }
  }
  std::unordered_set<std::string> seen;
  for (const std::string& texture : textures.texturenames) {
    std::string key = texture;
    LowerAscii(&key);
    if (!seen.insert(key).second) continue;
    auto it = found.find(key);
    if (it == found.end()) {
      std::fprintf(out_, "%s\tmissing\n", Printable(texture).c_str());
      continue;
    }
    const Found& f = it->second.good ? *it->second.good : *it->second.bad;
    std::fprintf(out_, "%s\t%s\t%s%s\n", Printable(texture).c_str(), Printable(f.entry).c_str(),
                 it->second.good ? "" : "unusable: ", f.what.c_str());
  }
  std::fflush(out_);
  return kExitOk;
}

}  // namespace

int Run(const Options& options, std::FILE* out, std::FILE* err) {
  return Extractor(options, out, err).Run();
}

int Main(std::span<const std::string_view> args, std::FILE* out, std::FILE* err) {
  const Args parsed = ParseArgs(args);
  int status = kExitOk;
  switch (parsed.command) {
    case Command::kUsage:
      std::fputs(kUsage, out);
      status = kExitUsage;
      break;
    case Command::kHelp:
      std::fputs(kUsage, out);
      std::fputs(kOptionsHelp, out);
      break;
    case Command::kVersion:
      std::fputs("pelt " PELT_VERSION "\n", out);
      break;
    case Command::kBadOption:
      std::fprintf(err, "pelt: %s: %s (see pelt --help)\n", Printable(parsed.error_subject).c_str(),
                   parsed.error.c_str());
      std::fflush(err);
      return kExitUsage;
    case Command::kRun:
      status = Run(parsed.options, out, err);
      break;
  }
  // Lines that never reached their reader (a full disk, a closed pipe) are a failure too.
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "pelt: standard output: %s\n", std::strerror(errno));
    status = kExitReported;
  }
  return status;
}

}  // namespace pelt
