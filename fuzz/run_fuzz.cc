// Fuzz target: the whole run, on an archive and a model split from one input (run_input.h),
// written into a scratch directory and run with an output directory inside it.
//
// The target predicts, from the directory and the texture names, what the run must do: which
// entries are written under which names (the later one winning), which are refused (one stderr
// line each, naming the output file), and the exit status. It then checks that the run did
// exactly that: nothing written outside the output directory, no temporary file left behind,
// every TGA entry copied byte for byte, every converted DDS entry an 18-byte header and
// 4 x width x height bytes of pixels equal to what the decoder gives for the same bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "args.h"
#include "dds.h"
#include "fuzz_check.h"
#include "mix_reader.h"
#include "model_scan.h"
#include "names.h"
#include "platform.h"
#include "pelt.h"
#include "run_input.h"
#include "tga.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// The scratch directory: <root>/a/b/work holds the archive, the model and the output directory,
// so a name that climbs out of the output directory lands where the check below sees it.
struct Scratch {
  std::string root, work, archive, model, out;
};

const Scratch& GetScratch() {
  // Made once and never destroyed, so the exit handler that removes it can still read it.
  static const Scratch* const s = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelt-fuzz-run-XXXXXX";
    PELT_FUZZ_CHECK(::mkdtemp(tmpl.data()) != nullptr);
    auto* r = new Scratch;
    r->root = tmpl;
    r->work = r->root + "/a/b/work";
    fs::create_directories(r->work);
    r->archive = r->work + "/archive.mix";
    r->model = r->work + "/model.kzm";
    r->out = r->work + "/out";
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(GetScratch().root, ec);
    });
    return r;
  }();
  return *s;
}

// Writes a fresh file. The old one is removed first rather than truncated: a file system may
// flush a truncated file's data to disk on close, which would slow every run to a crawl.
void WriteAll(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::error_code ec;
  fs::remove(path, ec);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  PELT_FUZZ_CHECK(f.good());
}

Bytes ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  PELT_FUZZ_CHECK(f.good());
  Bytes bytes(static_cast<std::size_t>(f.tellg()));
  f.seekg(0);
  f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  PELT_FUZZ_CHECK(f.good() || bytes.empty());
  return bytes;
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    PELT_FUZZ_CHECK(nl != std::string::npos);  // every line is whole
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

// What a run must do with a directory and a set of texture names.
struct Prediction {
  std::vector<std::string> subjects;   // of the stderr lines, in order
  std::vector<std::string> announced;  // the "now writing" names, in order
  std::map<std::string, Bytes> files;  // what the output directory holds afterwards
};

Prediction Predict(std::span<const std::uint8_t> archive, const pelt::MixDirectory& dir,
                   const pelt::ModelTextures& textures, std::uint8_t descriptor,
                   const std::string& model_path) {
  Prediction p;
  if (textures.name_cut_short) p.subjects.push_back(model_path);
  std::unordered_set<std::string> wanted;
  for (std::string t : textures.texturenames) {
    pelt::LowerAscii(&t);
    wanted.insert(t);
  }
  for (std::size_t i = 0; i < dir.filenames.size(); ++i) {
    const pelt::t_mix_kv_index_entry& e = dir.indexhead[i];
    const bool inside =
        e.offset >= 0 && e.size >= 0 &&
        std::uint64_t{static_cast<std::uint32_t>(e.offset)} + static_cast<std::uint32_t>(e.size) <=
            archive.size();
    const auto bytes = inside ? archive.subspan(static_cast<std::size_t>(e.offset),
                                                static_cast<std::size_t>(e.size))
                              : std::span<const std::uint8_t>();
    std::string name = dir.filenames[i];
    pelt::LowerAscii(&name);
    if (name.find(".tga") != std::string::npos && wanted.count(name) != 0) {
      if (!pelt::IsPlainFileName(name) || !inside) {
        p.subjects.push_back(name);
      } else {
        p.announced.push_back(name);
        p.files[name] = Bytes(bytes.begin(), bytes.end());
      }
    }
    if (name.find(".dds") == std::string::npos) continue;
    name.replace(name.size() - 3, 3, "tga");
    if (wanted.count(name) == 0) continue;
    if (!pelt::IsPlainFileName(name) || !inside) {
      p.subjects.push_back(name);
      continue;
    }
    auto surface =
        pelt::CheckDdsEntry(bytes.first(std::min<std::size_t>(bytes.size(), 128)), bytes.size());
    if (!surface.ok()) {
      p.subjects.push_back(name);
      continue;
    }
    const pelt::DDSURFACEDESC2 ddsd = pelt::ReadSurfaceDesc(bytes.subspan(4).first<124>());
    auto pixels = pelt::Decompress(ddsd, bytes.subspan(pelt::kDdsHeaderSize));
    PELT_FUZZ_CHECK(pixels.ok());
    const auto header = pelt::EncodeTgaHeader(
        pelt::MakeTgaHeader(static_cast<std::uint16_t>(surface->width),
                            static_cast<std::uint16_t>(surface->height), descriptor));
    Bytes image(header.begin(), header.end());
    const auto* pb = reinterpret_cast<const std::uint8_t*>(pixels->data());
    image.insert(image.end(), pb, pb + pixels->size() * sizeof(pelt::BgraPixel));
    PELT_FUZZ_CHECK(image.size() == 18 + 4ull * surface->width * surface->height);
    p.announced.push_back(name);
    p.files[name] = std::move(image);
  }
  return p;
}

struct Captured {
  int status = -1;
  std::string out, err;
};

Captured RunPelt(const pelt::Options& options) {
  char* out_buf = nullptr;
  char* err_buf = nullptr;
  std::size_t out_len = 0, err_len = 0;
  std::FILE* out = ::open_memstream(&out_buf, &out_len);
  std::FILE* err = ::open_memstream(&err_buf, &err_len);
  PELT_FUZZ_CHECK(out != nullptr && err != nullptr);
  Captured c;
  c.status = pelt::Run(options, out, err);
  std::fclose(out);
  std::fclose(err);
  c.out.assign(out_buf, out_len);
  c.err.assign(err_buf, err_len);
  std::free(out_buf);
  std::free(err_buf);
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes bytes(data, data + size);
  const pelt::fuzz::RunInput in = pelt::fuzz::SplitRunInput(bytes);
  const Bytes archive(in.archive.begin(), in.archive.end());  // exact sizes for ASan
  const Bytes model(in.model.begin(), in.model.end());

  const Scratch& s = GetScratch();
  std::error_code ec;
  fs::remove_all(s.out, ec);
  WriteAll(s.archive, archive);
  WriteAll(s.model, model);

  pelt::Options options;
  options.archive = s.archive;
  options.model = s.model;
  options.output_dir = s.out;
  options.list = (in.flags & pelt::fuzz::kRunList) != 0;
  options.strict_tga = (in.flags & pelt::fuzz::kRunStrictTga) != 0;
  const Captured run = RunPelt(options);

  // Nothing but the output directory appears next to the inputs, and the inputs are unchanged.
  PELT_FUZZ_CHECK(Names(s.root) == std::set<std::string>{"a"});
  PELT_FUZZ_CHECK(Names(s.root + "/a") == std::set<std::string>{"b"});
  PELT_FUZZ_CHECK(Names(s.root + "/a/b") == std::set<std::string>{"work"});
  std::set<std::string> beside = Names(s.work);
  beside.erase("out");
  PELT_FUZZ_CHECK(beside == (std::set<std::string>{"archive.mix", "model.kzm"}));
  PELT_FUZZ_CHECK(ReadAll(s.archive) == archive && ReadAll(s.model) == model);

  const std::vector<std::string> err_lines = Lines(run.err);
  const std::vector<std::string> out_lines = Lines(run.out);
  for (const std::string& line : err_lines) PELT_FUZZ_CHECK(line.rfind("pelt: ", 0) == 0);

  auto dir = pelt::ParseMixDirectory(std::span<const std::uint8_t>(archive));
  if (!dir.ok()) {
    // Fatal: one line naming the archive, nothing written, the model not even read.
    PELT_FUZZ_CHECK(run.status == pelt::kExitReported);
    PELT_FUZZ_CHECK(err_lines.size() == 1);
    PELT_FUZZ_CHECK(err_lines[0].rfind("pelt: " + pelt::Printable(s.archive) + ": ", 0) == 0);
    PELT_FUZZ_CHECK(out_lines.empty() && !fs::exists(s.out));
    return 0;
  }
  auto textures = pelt::ScanTextureNames(pelt::SpanSource(model));
  PELT_FUZZ_CHECK(textures.ok());

  if (options.list) {
    // Listing writes nothing and prints one line per distinct (case-blind) texture name.
    PELT_FUZZ_CHECK(!fs::exists(s.out));
    PELT_FUZZ_CHECK(run.status == (textures->name_cut_short ? pelt::kExitReported : pelt::kExitOk));
    PELT_FUZZ_CHECK(err_lines.size() == (textures->name_cut_short ? 1u : 0u));
    std::unordered_set<std::string> distinct;
    for (std::string t : textures->texturenames) {
      pelt::LowerAscii(&t);
      distinct.insert(t);
    }
    PELT_FUZZ_CHECK(out_lines.size() == distinct.size());
    return 0;
  }

  const Prediction want =
      Predict(archive, *dir, *textures,
              options.strict_tga ? pelt::kTgaDescriptorStrict : pelt::kTgaDescriptor, s.model);
  PELT_FUZZ_CHECK(run.status == (want.subjects.empty() ? pelt::kExitOk : pelt::kExitReported));
  PELT_FUZZ_CHECK(err_lines.size() == want.subjects.size());
  for (std::size_t i = 0; i < err_lines.size(); ++i)
    PELT_FUZZ_CHECK(err_lines[i].rfind("pelt: " + pelt::Printable(want.subjects[i]) + ": ", 0) ==
                    0);
  PELT_FUZZ_CHECK(out_lines.size() == want.announced.size());
  for (std::size_t i = 0; i < out_lines.size(); ++i)
    PELT_FUZZ_CHECK(out_lines[i] == "now writing " + want.announced[i]);

  // The output directory holds exactly the predicted files, plain files with the predicted bytes:
  // no temporary file left behind, nothing lost, no later refusal touching an earlier file.
  std::set<std::string> written = Names(s.out);
  PELT_FUZZ_CHECK(written.size() == want.files.size());
  for (const auto& [name, content] : want.files) {
    PELT_FUZZ_CHECK(written.count(name) == 1);
    const std::string path = s.out + "/" + name;
    struct stat st;
    PELT_FUZZ_CHECK(::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode));
    PELT_FUZZ_CHECK(ReadAll(path) == content);
  }
  return 0;
}
