// Fuzz target: a whole run of pelt, in process, on files cut from the input: flags (1 byte), then
// a.mix, m.kzm and b.mix, each after its length (4 bytes, little-endian; a length past the end
// takes what is left, parts past the end are empty). Flags: 1 --list, 2 --raw, 8 -t, 16 the model
// is the pattern "*.?zm" (models are entries), 32 --png. The run,
//   pelt -o out [-l] [--raw] [-t] [--png] a.mix MODEL -a b.mix
// must exit with 0, or 2 after reports (2 also for a list), write nothing outside out/ and nothing
// at all when it lists, leave no temporary file, write only whole 32-bit TGA images, PNG files
// that the tests' reader reads, or the bytes of a named entry of an archive (a TGA entry, or any
// with --raw), and no more than 9 times the archives' size. The other targets hold each reader to
// what it promises; this one covers the options and how the run puts the readers together.
#include <filesystem>

#include "byte_reader.h"
#include "mix_reader.h"
#include "pelt.h"
#include "testutil.h"

namespace fs = std::filesystem;
using namespace pelt;
using namespace pelt::testing;

// A whole 32-bit TGA image (18 + 4 x width x height bytes; the dds target checks every byte of
// one), a PNG file the tests' reader reads, or the bytes of a named entry of `archive`.
bool IsWhole(const Bytes& f, const Bytes& archive) {
  if (f.size() > 18 && f[2] == 2 && f[16] == 32 &&
      f.size() == 18 + 4ull * LoadU16(&f[12]) * LoadU16(&f[14]))
    return true;
  const auto dir = ParseMixDirectory(MemorySource(archive));
  for (std::size_t i = 0; dir.ok() && i < dir->filenames.size(); ++i) {
    const auto place = PlaceOf(*dir, i);
    if (place.ok() && std::ranges::equal(f, std::span(archive).subspan(place->offset, place->size)))
      return true;
  }
  try {
    ReadPng(f);
    return true;
  } catch (...) {
    return false;
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempDir root;  // the files in root/in, to see names climb out
  for (const auto& e : fs::directory_iterator(root.path)) fs::remove_all(e.path());
  const std::string in = root / "in";
  fs::create_directory(in);
  const int flags = size > 0 ? data[0] : 0;
  const bool lists = (flags & 9) != 0;
  Bytes parts[3];
  for (std::size_t at = 1, i = 0; at + 4 <= size && i < 3; ++i) {
    const std::size_t n = std::min<std::size_t>(LoadU32(data + at), size - at - 4);
    parts[i].assign(data + at + 4, data + at + 4 + n);
    at += 4 + n;
  }
  const char* const names[] = {"a.mix", "m.kzm", "b.mix"};
  for (int i = 0; i < 3; ++i) WriteFile(in + "/" + names[i], parts[i]);
  std::vector<std::string> args = {
      "-o", root / "out", in + "/a.mix", flags & 16 ? "*.?zm" : in + "/m.kzm", "-a", in + "/b.mix"};
  const std::pair<int, const char*> options[] = {{1, "-l"}, {2, "--raw"}, {8, "-t"}, {32, "--png"}};
  for (const auto& [flag, option] : options) {
    if (flags & flag) args.push_back(option);
  }
  static std::FILE* const devnull = std::fopen("/dev/null", "w");
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* err = ::open_memstream(&text, &length);
  const int status = Main(std::vector<std::string_view>(args.begin(), args.end()), devnull, err);
  std::fclose(err);
  const std::string report(text, length);
  std::free(text);

  PELT_FUZZ_CHECK(status == (report.empty() ? 0 : 2) || (lists && status == 2));
  PELT_FUZZ_CHECK(report.empty() || report.starts_with("pelt: "));
  std::uint64_t written = 0;
  for (const auto& e : fs::recursive_directory_iterator(root.path)) {
    const std::string p = e.path().lexically_relative(root.path).string();
    const bool input = p.starts_with("in/") && std::count(names, names + 3, p.substr(3));
    if (p == "in" || input || (!lists && p == "out")) continue;
    PELT_FUZZ_CHECK(!lists && p.starts_with("out/") && !p.starts_with("out/.pelt-"));
    const Bytes file = ReadFile(e.path().string()).value();
    PELT_FUZZ_CHECK(IsWhole(file, parts[0]) || IsWhole(file, parts[2]));
    written += file.size();
  }
  PELT_FUZZ_CHECK(written <= 9 * (parts[0].size() + parts[2].size()));
  return 0;
}
