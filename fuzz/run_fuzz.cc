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
#include "pelt.h"
#include "testutil.h"

namespace fs = std::filesystem;
using pelt::testing::Bytes;

bool IsImage(const Bytes& f) {  // an 18-byte header of a 32-bit image, then its pixels
  return f.size() >= 18 && f[2] == 2 && f[16] == 32 &&
         f.size() == 18 + 4ull * (f[12] | f[13] << 8) * (f[14] | f[15] << 8);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const pelt::testing::TempDir root;  // the files in root/in, to see names climb out
  for (const auto& e : fs::directory_iterator(root.path)) fs::remove_all(e.path());
  const std::string in = root / "in", out = root / "out";
  fs::create_directory(in);
  const int flags = size > 0 ? data[0] : 0;
  std::vector<Bytes> parts(2);
  std::vector<std::string> args = {"-o", out, "-l", "--strict-tga", in + "/a.mix", "m.kzm"};
  for (std::size_t at = 1, i = 0; at + 4 <= size && i < 4; ++i) {
    const std::size_t n = std::min<std::size_t>(pelt::LoadU32(data + at), size - at - 4);
    parts.resize(std::max<std::size_t>(parts.size(), i + 1));
    parts[i].assign(data + at + 4, data + at + 4 + n);
    at += 4 + n;
  }
  const char* const names[] = {"a.mix", "m.kzm", "b.mix", "n.kzm"};
  for (std::size_t i = 0; i < parts.size(); ++i)
    if (i != 1 || !(flags & 4)) pelt::testing::WriteFile(in + "/" + names[i], parts[i]);
  if (!(flags & 4)) args[5] = in + "/m.kzm";  // else no such file: an entry's name
  if (parts.size() > 2) args.insert(args.end(), {"-a", in + "/b.mix"});
  if (parts.size() > 3) args.push_back(in + "/n.kzm");
  if (!(flags & 2)) args.erase(args.begin() + 3);
  if (!(flags & 1)) args.erase(args.begin() + 2);
  static std::FILE* const devnull = std::fopen("/dev/null", "w");
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* err = ::open_memstream(&text, &length);
  const int status =
      pelt::Main(std::vector<std::string_view>(args.begin(), args.end()), devnull, err);
  std::fclose(err);
  const std::string report(text, length);
  std::free(text);

  PELT_FUZZ_CHECK(status == (report.empty() ? 0 : 2) || ((flags & 1) && status == 2));
  PELT_FUZZ_CHECK(report.empty() || (report.starts_with("pelt: ") && report.ends_with("\n")));
  for (std::size_t nl = report.find('\n'); nl + 1 < report.size(); nl = report.find('\n', nl + 1))
    PELT_FUZZ_CHECK(report.compare(nl + 1, 6, "pelt: ") == 0);
  // Beside the inputs only out/, and in it only whole files: copies of archive bytes or images.
  std::uint64_t written = 0;
  for (const auto& e : fs::recursive_directory_iterator(root.path)) {
    const std::string p = e.path().lexically_relative(root.path).string();
    const bool input = p.starts_with("in/") && std::count(names, names + parts.size(), p.substr(3));
    if (p == "in" || input || ((flags & 1) == 0 && p == "out")) continue;
    PELT_FUZZ_CHECK(!(flags & 1) && p.starts_with("out/") && !p.starts_with("out/.pelt-") &&
                    e.is_regular_file());
    const Bytes file = pelt::testing::ReadFile(e.path().string()).value();
    const auto within = [&file](const Bytes& a) {
      return std::search(a.begin(), a.end(), file.begin(), file.end()) != a.end();
    };
    PELT_FUZZ_CHECK(IsImage(file) || within(parts[0]) || (parts.size() > 2 && within(parts[2])));
    written += file.size();
  }
  PELT_FUZZ_CHECK(written <= 9 * (parts[0].size() + (parts.size() > 2 ? parts[2].size() : 0)));
  return 0;
}
