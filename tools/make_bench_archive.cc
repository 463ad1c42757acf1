// make_bench_archive DIR [--scale F]
//
// Writes the inputs of the whole-run benchmark (bench/run_extract.sh) into DIR, deterministically
// (fixed seeds), with the test-support builders:
//
//   whole.mix, whole.kzm      about F GiB: a few thousand DXT1/DXT3/DXT5 entries from 64 x 64 to
//                             4096 x 4096 (with and without mipmaps, odd sizes) and TGA entries;
//                             the model refers to about half of them, and to a few names the
//                             archive does not hold
//   single.mix, single.kzm    one 4096 x 4096 DXT5 entry
//   argb.mix, l8.mix (.kzm)   one 4096 x 4096 A8R8G8B8 entry, and one L8 entry
//   bigtga.mix, bigtga.kzm    one TGA entry of 8192 x 8192 x 32 bits (256 MiB; F scales it)
//   many.mix, many.kzm        100,000 tiny TGA entries and a model of 10,000 of their names
//                             (F times as many below 1)
//   names.mix                 20,000 empty entries with names of 250 characters
//
// and, for the floors the benchmark measures pelt against:
//
//   whole.floor, single.floor files of as many bytes as pelt writes for the conversions
//   *.ranges                  "offset size name" of every TGA entry pelt copies, for copy_floor
//   whole.files               "0 0 name" of every file pelt converts for whole.kzm: copy_floor
//                             creates them empty, which is what creating them costs
//   bench.env                 the totals as shell assignments
//
// Entries are generated and written one at a time, so memory stays at one entry (at most a
// 4096 x 4096 surface with its mipmaps, or one band of a large TGA entry) whatever F is. The
// archive layout is MixBuilder's: header, entries in order, index, name table.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "testutil.h"
#include "tga.h"

namespace {

using pelt::testing::Bytes;
using pelt::testing::Fmt;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
// Entry offsets and sizes are signed 32-bit: an archive must stay below 2 GiB.
constexpr std::uint64_t kArchiveLimit = 0x7FFFFFFFu;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "make_bench_archive: %s\n", what.c_str());
  std::exit(1);
}

// Fast deterministic filler for bulk bytes (TGA pixels, floor files): mt19937 per byte would
// dominate the generation time and nothing here needs its quality.
class Filler {
 public:
  explicit Filler(std::uint64_t seed) : s_(seed | 1) {}
  void Fill(std::uint8_t* p, std::size_t n) {
    while (n >= 8) {
      const std::uint64_t v = Next();
      std::memcpy(p, &v, 8);
      p += 8;
      n -= 8;
    }
    const std::uint64_t v = Next();
    std::memcpy(p, &v, n);
  }

 private:
  std::uint64_t Next() {  // xorshift64*
    s_ ^= s_ >> 12;
    s_ ^= s_ << 25;
    s_ ^= s_ >> 27;
    return s_ * 0x2545F4914F6CDD1Dull;
  }
  std::uint64_t s_;
};

class File {
 public:
  explicit File(const std::string& path) : path_(path), f_(std::fopen(path.c_str(), "wb")) {
    if (f_ == nullptr) Die(path + ": " + std::strerror(errno));
  }
  ~File() {
    if (f_ != nullptr) std::fclose(f_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  void Write(const std::uint8_t* p, std::size_t n) {
    if (n != 0 && std::fwrite(p, 1, n, f_) != n) Die(path_ + ": " + std::strerror(errno));
    pos_ += n;
  }
  void Write(const Bytes& b) { Write(b.data(), b.size()); }
  void WriteAt(std::uint64_t at, const Bytes& b) {
    if (std::fseek(f_, static_cast<long>(at), SEEK_SET) != 0) Die(path_ + ": seek failed");
    if (std::fwrite(b.data(), 1, b.size(), f_) != b.size())
      Die(path_ + ": " + std::strerror(errno));
    std::fseek(f_, 0, SEEK_END);
  }
  void Close() {
    if (std::fclose(f_) != 0) Die(path_ + ": " + std::strerror(errno));
    f_ = nullptr;
  }
  std::uint64_t pos() const { return pos_; }

 private:
  std::string path_;
  std::FILE* f_;
  std::uint64_t pos_ = 0;
};

void WriteWhole(const std::string& path, const Bytes& bytes) {
  File f(path);
  f.Write(bytes);
  f.Close();
}

// A file of `size` filler bytes, written in 1 MiB pieces.
void WriteFloorFile(const std::string& path, std::uint64_t size, std::uint64_t seed) {
  File f(path);
  Filler fill(seed);
  std::vector<std::uint8_t> buf(kMiB);
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buf.size()));
    fill.Fill(buf.data(), n);
    f.Write(buf.data(), n);
    left -= n;
  }
  f.Close();
}

// Writes a mix archive an entry at a time, in MixBuilder's layout: the 16-byte header (patched
// at the end), the entries in order, the index (count, then id, offset, size per entry), the
// name table (count, then a length byte and the name with its NUL per entry).
class ArchiveWriter {
 public:
  explicit ArchiveWriter(const std::string& path) : file_(path), path_(path) {
    file_.Write(Bytes(16, 0));
  }

  // Starts an entry of `size` bytes; its data follows through Data(). Returns its offset.
  std::uint64_t Begin(std::string_view name, std::uint64_t size) {
    if (name.empty() || name.size() > 254) Die("bad entry name");
    if (file_.pos() + size > kArchiveLimit) Die(path_ + ": archive would pass 2 GiB");
    const std::uint64_t offset = file_.pos();
    entries_.push_back(Entry{std::string(name), offset, size});
    return offset;
  }
  void Data(const std::uint8_t* p, std::size_t n) { file_.Write(p, n); }
  std::uint64_t Add(std::string_view name, const Bytes& data) {
    const std::uint64_t offset = Begin(name, data.size());
    Data(data.data(), data.size());
    return offset;
  }
  std::uint64_t pos() const { return file_.pos(); }
  std::size_t count() const { return entries_.size(); }

  // Writes index, name table and header; returns the archive's size and stores the size of its
  // directory (header, index and name table) in `directory_bytes`.
  std::uint64_t Finish(std::uint64_t* directory_bytes) {
    const auto index_offset = static_cast<std::uint32_t>(file_.pos());
    Bytes tail;
    pelt::testing::PutI32(&tail, static_cast<std::int32_t>(entries_.size()));
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      pelt::testing::PutI32(&tail, static_cast<std::int32_t>(1000 + i));
      pelt::testing::PutU32(&tail, static_cast<std::uint32_t>(entries_[i].offset));
      pelt::testing::PutU32(&tail, static_cast<std::uint32_t>(entries_[i].size));
    }
    const auto tailer_offset = static_cast<std::uint32_t>(index_offset + tail.size());
    pelt::testing::PutI32(&tail, static_cast<std::int32_t>(entries_.size()));
    for (const Entry& e : entries_) {
      tail.push_back(static_cast<std::uint8_t>(e.name.size() + 1));
      tail.insert(tail.end(), e.name.begin(), e.name.end());
      tail.push_back(0);
    }
    file_.Write(tail);
    *directory_bytes = 16 + tail.size();
    Bytes header;
    pelt::testing::PutU32(&header, 0x4D495831);
    pelt::testing::PutU32(&header, index_offset);
    pelt::testing::PutU32(&header, tailer_offset);
    pelt::testing::PutU32(&header, 0);
    file_.WriteAt(0, header);
    const std::uint64_t size = file_.pos();
    file_.Close();
    return size;
  }

 private:
  struct Entry {
    std::string name;
    std::uint64_t offset, size;
  };
  File file_;
  std::string path_;
  std::vector<Entry> entries_;
};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// What one archive asks of pelt, and the file listing the TGA entries it copies.
struct Totals {
  std::uint64_t archive_bytes = 0;
  std::size_t entries = 0, model_names = 0;
  std::size_t conversions = 0, copies = 0;
  std::uint64_t convert_bytes = 0;     // TGA files pelt writes for DDS entries, headers included
  std::uint64_t compressed_bytes = 0;  // the DDS entries those come from
  std::uint64_t copy_bytes = 0;        // TGA entries pelt copies
  std::uint64_t largest_entry = 0;     // the largest entry pelt reads
  std::uint64_t directory_bytes = 0;   // header, index and name table
};

class Ranges {
 public:
  explicit Ranges(const std::string& path) : file_(path) {}
  void Add(std::uint64_t offset, std::uint64_t size, const std::string& name) {
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%" PRIu64 " %" PRIu64 " ", offset, size);
    file_.Write(reinterpret_cast<const std::uint8_t*>(line), static_cast<std::size_t>(n));
    file_.Write(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
    file_.Write(reinterpret_cast<const std::uint8_t*>("\n"), 1);
  }
  void Close() { file_.Close(); }

 private:
  File file_;
};

std::uint64_t ConvertedBytes(std::uint32_t w, std::uint32_t h) {
  return pelt::kTgaHeaderSize + std::uint64_t{w} * h * 4;
}

// A TGA entry of w x h pixels of 32 bits, streamed a band at a time.
void AddTga(ArchiveWriter* ar, const std::string& name, std::uint16_t w, std::uint16_t h,
            Filler* fill, std::uint64_t* offset, std::uint64_t* size) {
  const std::uint64_t pixels = std::uint64_t{w} * h * 4;
  *size = pelt::kTgaHeaderSize + pixels;
  *offset = ar->Begin(name, *size);
  const auto header = pelt::EncodeTgaHeader(pelt::MakeTgaHeader(w, h, pelt::kTgaDescriptorStrict));
  ar->Data(header.data(), header.size());
  std::vector<std::uint8_t> band(
      static_cast<std::size_t>(std::min<std::uint64_t>(pixels, 4 * kMiB)));
  for (std::uint64_t left = pixels; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, band.size()));
    fill->Fill(band.data(), n);
    ar->Data(band.data(), n);
    left -= n;
  }
}

// Chunks a model holds besides texture names, so that the scan walks more than names.
void AddMeshChunk(pelt::testing::ModelBuilder* m, std::mt19937* rng) {
  std::uniform_int_distribution<int> len(16, 400), byte(0, 255);
  Bytes payload(static_cast<std::size_t>(len(*rng)));
  for (auto& b : payload) b = static_cast<std::uint8_t>(byte(*rng));
  m->Chunk(0x0300, payload);  // mesh-like data
}

// The ~F GiB archive: entries until the archive holds F GiB.
Totals MakeWhole(const std::string& dir, double scale) {
  std::mt19937 rng(20240601);
  Filler fill(0x5EED0001);
  ArchiveWriter ar(dir + "/whole.mix");
  Ranges ranges(dir + "/whole.ranges");
  Ranges files(dir + "/whole.files");
  pelt::testing::ModelBuilder model;
  model.Begin(0x0100);  // the model's root container
  Totals t;
  const std::uint64_t target = static_cast<std::uint64_t>(scale * static_cast<double>(kGiB));

  // Side lengths and their odds: mostly small textures, a few 4096 x 4096 ones.
  const std::uint32_t kSides[] = {64, 128, 256, 512, 1024, 2048, 4096};
  std::discrete_distribution<int> side_of({30, 25, 20, 12, 8, 3.5, 1.5});
  std::uniform_real_distribution<double> unit(0, 1);
  std::size_t materials = 0;
  for (std::size_t i = 0; ar.pos() < target; ++i) {
    // The first entries take one of every format and the largest size, so that every scale has
    // them; the rest are drawn.
    const bool tga = i >= 3 && unit(rng) < 0.2;
    std::uint32_t w = i < 3 ? 4096 : kSides[side_of(rng)];
    std::uint32_t h = w;
    const double shape = unit(rng);
    if (shape < 0.15)
      h = std::max<std::uint32_t>(64, w / 2);  // wide
    else if (shape < 0.25)
      w = std::max<std::uint32_t>(64, w / 4);  // tall
    if (i >= 3 && unit(rng) < 0.2) {           // odd sizes, not a multiple of 4 on either side
      w = std::max<std::uint32_t>(64, w - 1 - static_cast<std::uint32_t>(unit(rng) * (w / 3.0)));
      h = std::max<std::uint32_t>(65, h - 3 - static_cast<std::uint32_t>(unit(rng) * (h / 3.0)));
    }
    if (tga) {  // TGA entries are kept at 1024 x 1024 and below
      w = std::min<std::uint32_t>(w, 1024);
      h = std::min<std::uint32_t>(h, 1024);
    }
    const bool wanted = i < 3 || unit(rng) < 0.5;
    const bool upper = unit(rng) < 0.25;  // names whose case differs from the model's
    char base[32];
    std::snprintf(base, sizeof base, upper ? "Tex_%05zu" : "tex_%05zu", i);
    std::string name = base;
    std::uint64_t offset = 0, size = 0;
    if (tga) {
      name += upper ? ".TGA" : ".tga";
      AddTga(&ar, name, static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h), &fill,
             &offset, &size);
      if (wanted) {
        ranges.Add(offset, size, Lower(name));
        ++t.copies;
        t.copy_bytes += size;
      }
    } else {
      const Fmt f = i < 3 ? static_cast<Fmt>(i)
                          : (unit(rng) < 0.4    ? Fmt::kDxt1
                             : unit(rng) < 0.33 ? Fmt::kDxt3
                                                : Fmt::kDxt5);
      name += upper ? ".DDS" : ".dds";
      pelt::testing::DdsBuilder dds(w, h);
      dds.Format(f).Data(pelt::testing::RandomBlocks(f, pelt::testing::BlocksFor(w, h), &rng));
      if (unit(rng) < 0.5) dds.Mipmaps(static_cast<std::uint8_t>(i));
      const Bytes data = dds.Build();
      size = data.size();
      if (ar.pos() + size > kArchiveLimit - 64 * kMiB) break;
      ar.Add(name, data);
      if (wanted) {
        files.Add(0, 0, Lower(base) + ".tga");
        ++t.conversions;
        t.convert_bytes += ConvertedBytes(w, h);
        t.compressed_bytes += size;
      }
    }
    if (wanted) {
      t.largest_entry = std::max(t.largest_entry, size);
      // The model names the texture as the run writes it: .tga, in its own case.
      std::string ref = std::string("tex_") + (base + 4) + ".tga";
      if (unit(rng) < 0.1) ref[0] = 'T';
      if (materials++ % 8 == 0) {
        if (materials > 1) model.End();
        model.Begin(0x0200);  // a material: a container of texture names and other chunks
        AddMeshChunk(&model, &rng);
      }
      model.Texture(ref);
      ++t.model_names;
      if (unit(rng) < 0.05) {  // referred to twice
        model.Texture(ref);
        ++t.model_names;
      }
    }
  }
  if (materials > 0) model.End();
  for (int k = 0; k < 20; ++k) {  // names the archive does not hold
    model.Texture("missing_" + std::to_string(k) + ".tga");
    ++t.model_names;
  }
  model.End();
  t.entries = ar.count();
  t.archive_bytes = ar.Finish(&t.directory_bytes);
  ranges.Close();
  files.Close();
  WriteWhole(dir + "/whole.kzm", model.Build());
  WriteFloorFile(dir + "/whole.floor", t.convert_bytes, 0x5EED0002);
  return t;
}

// NAME.mix of one 4096 x 4096 entry NAME.dds holding `data`, and NAME.kzm naming NAME.tga.
Totals MakeSingle(const std::string& dir, const std::string& name, const Bytes& data) {
  Totals t;
  ArchiveWriter ar(dir + "/" + name + ".mix");
  ar.Add(name + ".dds", data);
  t.entries = 1;
  t.conversions = 1;
  t.convert_bytes = ConvertedBytes(4096, 4096);
  t.compressed_bytes = t.largest_entry = data.size();
  t.archive_bytes = ar.Finish(&t.directory_bytes);
  pelt::testing::ModelBuilder model;
  model.Begin().Texture(name + ".tga").End();
  t.model_names = 1;
  WriteWhole(dir + "/" + name + ".kzm", model.Build());
  return t;
}

// A 4096 x 4096 DDS entry of random pixels of `bytes` bytes in the format of Direct3D number
// `number`.
Bytes PixelDds(std::uint32_t number, std::uint32_t bytes, std::mt19937* rng) {
  Bytes data(std::size_t{4096} * 4096 * bytes);
  for (std::uint8_t& b : data) b = static_cast<std::uint8_t>((*rng)());
  return pelt::testing::DdsBuilder(4096, 4096).FourCC(number).Data(std::move(data)).Build();
}

Totals MakeBigTga(const std::string& dir, double scale) {
  Filler fill(0x5EED0004);
  Totals t;
  ArchiveWriter ar(dir + "/bigtga.mix");
  Ranges ranges(dir + "/bigtga.ranges");
  // 8192 x 8192 x 4 bytes = 256 MiB at scale 1; the height follows the scale.
  const auto h = static_cast<std::uint16_t>(std::clamp(8192.0 * scale, 64.0, 8192.0));
  std::uint64_t offset = 0;
  AddTga(&ar, "big.tga", 8192, h, &fill, &offset, &t.copy_bytes);
  ranges.Add(offset, t.copy_bytes, "big.tga");
  t.entries = t.copies = 1;
  t.largest_entry = t.copy_bytes;
  t.archive_bytes = ar.Finish(&t.directory_bytes);
  ranges.Close();
  pelt::testing::ModelBuilder model;
  model.Begin().Texture("big.tga").End();
  t.model_names = 1;
  WriteWhole(dir + "/bigtga.kzm", model.Build());
  return t;
}

// 100,000 tiny TGA entries (fewer below scale 1); the model names every tenth in scattered order.
Totals MakeMany(const std::string& dir, double scale) {
  const std::size_t entries =
      std::max<std::size_t>(10, static_cast<std::size_t>(100000 * std::min(scale, 1.0)) / 10 * 10);
  std::mt19937 rng(20240603);
  Filler fill(0x5EED0005);
  Totals t;
  ArchiveWriter ar(dir + "/many.mix");
  Ranges ranges(dir + "/many.ranges");
  std::vector<std::string> refs;
  for (std::size_t i = 0; i < entries; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "textures_%06zu_%s.tga", i, i % 3 == 0 ? "Diffuse" : "nrm");
    std::uint64_t offset = 0, size = 0;
    AddTga(&ar, name, 4, 4, &fill, &offset, &size);
    if (i % 10 == 7) {
      ranges.Add(offset, size, Lower(name));
      refs.push_back(Lower(name));
      ++t.copies;
      t.copy_bytes += size;
    }
  }
  std::shuffle(refs.begin(), refs.end(), rng);
  pelt::testing::ModelBuilder model;
  model.Begin();
  for (const std::string& r : refs) model.Texture(r);
  model.End();
  t.entries = ar.count();
  t.model_names = refs.size();
  t.largest_entry = pelt::kTgaHeaderSize + 64;
  t.archive_bytes = ar.Finish(&t.directory_bytes);
  ranges.Close();
  WriteWhole(dir + "/many.kzm", model.Build());
  return t;
}

// 20,000 empty entries whose names are 250 characters, 245 of them 'a', none with a 'b': the
// worst case for a pattern such as *a*a*a*a*a*a*a*a*a*a*a*a*b, which fails on every one of them
// only after trying every split.
Totals MakeLongNames(const std::string& dir) {
  Totals t;
  ArchiveWriter ar(dir + "/names.mix");
  for (int i = 0; i < 20000; ++i) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%05d", i);
    ar.Add(std::string(245, 'a') + digits, {});
  }
  t.entries = ar.count();
  t.archive_bytes = ar.Finish(&t.directory_bytes);
  return t;
}

void Print(std::FILE* out, const char* what, const Totals& t) {
  std::fprintf(out,
               "%-7s %7zu entries %11" PRIu64
               " bytes, %6zu model names: %5zu conversions "
               "writing %11" PRIu64 " bytes, %5zu TGA copies of %10" PRIu64 " bytes\n",
               what, t.entries, t.archive_bytes, t.model_names, t.conversions, t.convert_bytes,
               t.copies, t.copy_bytes);
}

void PrintEnv(std::FILE* out, const char* what, const Totals& t) {
  std::fprintf(out,
               "%s_archive_bytes=%" PRIu64
               "\n%s_entries=%zu\n%s_model_names=%zu\n"
               "%s_conversions=%zu\n%s_convert_bytes=%" PRIu64 "\n%s_compressed_bytes=%" PRIu64
               "\n%s_copies=%zu\n%s_copy_bytes=%" PRIu64 "\n%s_largest_entry=%" PRIu64
               "\n%s_directory_bytes=%" PRIu64 "\n",
               what, t.archive_bytes, what, t.entries, what, t.model_names, what, t.conversions,
               what, t.convert_bytes, what, t.compressed_bytes, what, t.copies, what, t.copy_bytes,
               what, t.largest_entry, what, t.directory_bytes);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  double scale = 1.0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--scale" && i + 1 < argc) {
      char* end = nullptr;
      scale = std::strtod(argv[++i], &end);
      if (*end != '\0' || !(scale > 0) || scale > 1.8)
        Die("--scale takes a number above 0, at most 1.8");
    } else if (dir.empty() && !a.empty() && a[0] != '-') {
      dir = a;
    } else {
      dir.clear();
      break;
    }
  }
  if (dir.empty()) {
    std::fprintf(stderr, "usage: make_bench_archive DIR [--scale F]\n");
    return 2;
  }
  try {
    const Totals whole = MakeWhole(dir, scale);
    std::mt19937 rng(20240602);
    const Totals single =
        MakeSingle(dir, "single", pelt::testing::RandomDds(Fmt::kDxt5, 4096, 4096, &rng));
    WriteFloorFile(dir + "/single.floor", single.convert_bytes, 0x5EED0003);
    const Totals argb = MakeSingle(dir, "argb", PixelDds(21, 4, &rng));
    const Totals l8 = MakeSingle(dir, "l8", PixelDds(50, 1, &rng));
    const Totals bigtga = MakeBigTga(dir, scale);
    const Totals many = MakeMany(dir, scale);
    const Totals names = MakeLongNames(dir);
    Print(stdout, "whole", whole);
    Print(stdout, "single", single);
    Print(stdout, "argb", argb);
    Print(stdout, "l8", l8);
    Print(stdout, "bigtga", bigtga);
    Print(stdout, "many", many);
    Print(stdout, "names", names);
    std::FILE* env = std::fopen((dir + "/bench.env").c_str(), "w");
    if (env == nullptr) Die(dir + "/bench.env: " + std::strerror(errno));
    // Bump `generator` whenever the data changes, so that kept data directories are remade.
    std::fprintf(env, "generator=5\nscale=%g\n", scale);
    PrintEnv(env, "whole", whole);
    PrintEnv(env, "single", single);
    PrintEnv(env, "argb", argb);
    PrintEnv(env, "l8", l8);
    PrintEnv(env, "bigtga", bigtga);
    PrintEnv(env, "many", many);
    if (std::fclose(env) != 0) Die(dir + "/bench.env: " + std::strerror(errno));
  } catch (const std::exception& e) {
    Die(e.what());
  }
  return 0;
}
