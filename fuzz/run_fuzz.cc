// Fuzz target: a whole run of pelt, in process, on archives and models cut from the input:
// flags (1 byte), then a.mix, m.kzm, b.mix and n.kzm, each after its length (4 bytes, little-
// endian); a length past the end takes what is left, and parts past the end are absent. Flags:
// 1 --list, 2 --strict-tga, 4 m.kzm is no file (so it is looked for among the archives' entries).
// Written to a scratch directory, they are run as
//   pelt -o out [-l] [--strict-tga] [-a b.mix] a.mix m.kzm [n.kzm]
// and the target checks what every run must do: exit status 0 or 2, each stderr line "pelt: ...",
// nothing written outside out/, no temporary file left, each file in out/ a copy of archive bytes
// or a whole converted image, and no more written than 9 times the archives' size.
#include <cstdio>
#include <filesystem>

#include "byte_reader.h"
#include "fuzz_check.h"
#include "pelt.h"
#include "testutil.h"

namespace fs = std::filesystem;
using pelt::testing::Bytes;

bool IsImage(const Bytes& f) {  // an 18-byte header of a 32-bit image, then its pixels
  return f.size() >= 18 && f[2] == 2 && f[16] == 32 &&
         f.size() == 18 + 4ull * (f[12] | f[13] << 8) * (f[14] | f[15] << 8);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const pelt::testing::TempDir root;  // the files in root/a/b, to see names climb out
  static const std::string dir = (fs::create_directories(root / "a/b"), root / "a/b");
  for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
  std::vector<Bytes> parts;
  for (std::size_t at = 1; at + 4 <= size && parts.size() < 4;) {
    const std::size_t n = std::min<std::size_t>(pelt::LoadU32(data + at), size - at - 4);
    parts.emplace_back(data + at + 4, data + at + 4 + n), at += 4 + n;
  }
  parts.resize(std::max<std::size_t>(parts.size(), 2));
  const int flags = size > 0 ? data[0] : 0;
  const char* const names[] = {"a.mix", "m.kzm", "b.mix", "n.kzm"};
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    paths.push_back(dir + "/" + names[i]);
    if (i != 1 || !(flags & 4)) pelt::testing::WriteFile(paths[i], parts[i]);
  }
  if (flags & 4) paths[1] = "m.kzm";  // no such file here: an entry's name
  const std::string out_dir = dir + "/out";
  std::vector<std::string_view> args = {"-o", out_dir};
  if (flags & 1) args.push_back("-l");
  if (flags & 2) args.push_back("--strict-tga");
  if (parts.size() > 2) args.insert(args.end(), {"-a", paths[2]});
  args.insert(args.end(), {paths[0], paths[1]});
  if (parts.size() > 3) args.push_back(paths[3]);
  static std::FILE* const out = std::fopen("/dev/null", "w");
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* err = ::open_memstream(&text, &length);
  const int status = pelt::Main(args, out, err);
  std::fclose(err);
  const std::string report(text, length);
  std::free(text);

  PELT_FUZZ_CHECK(status == 0 || status == 2);
  PELT_FUZZ_CHECK(status == (report.empty() ? 0 : 2) || ((flags & 1) && status == 2));
  PELT_FUZZ_CHECK(report.empty() || (report.starts_with("pelt: ") && report.ends_with("\n")));
  for (std::size_t nl = report.find('\n'); nl + 1 < report.size(); nl = report.find('\n', nl + 1))
    PELT_FUZZ_CHECK(report.compare(nl + 1, 6, "pelt: ") == 0);
  // Beside the inputs only out/, and in it only files (nothing at all when listing).
  for (const auto& e : fs::recursive_directory_iterator(root.path())) {
    const std::string p = e.path().lexically_relative(root.path()).string();
    const bool input =
        std::count(names, names + parts.size(), p.substr(std::min<std::size_t>(p.size(), 4)));
    PELT_FUZZ_CHECK(
        p == "a" || p == "a/b" || (p.starts_with("a/b/") && input) ||
        (!(flags & 1) && (p == "a/b/out" || (p.starts_with("a/b/out/") && e.is_regular_file()))));
  }
  std::uint64_t written = 0;
  std::error_code no_out;
  for (const auto& e : fs::directory_iterator(out_dir, no_out)) {
    const Bytes file = pelt::testing::ReadFile(e.path().string()).value();
    written += file.size();
    const auto in = [&file](const Bytes& a) {
      return std::search(a.begin(), a.end(), file.begin(), file.end()) != a.end();
    };
    PELT_FUZZ_CHECK(!e.path().filename().string().starts_with(".pelt-"));
    PELT_FUZZ_CHECK(IsImage(file) || in(parts[0]) || (parts.size() > 2 && in(parts[2])));
  }
  PELT_FUZZ_CHECK(written <= 9 * (parts[0].size() + (parts.size() > 2 ? parts[2].size() : 0)));
  return 0;
}
