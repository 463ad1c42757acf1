// Decode throughput of DXT1, DXT3 and DXT5 surfaces through every path the processor supports, and
// of the other formats through their one path, against a floor measured in the same run: memset
// of the same output buffer.
//
//   pelt_bench_decode --benchmark_repetitions=5
//
// After Google Benchmark's own table it prints a summary: Mpixel/s of each format, size and path
// and its ratio to the floor of the same size (medians when the benchmarks are repeated).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "dds.h"
#include "decode.h"
#include "dxt.h"
#include "testutil.h"

namespace {

using pelt::BgraPixel;
using pelt::DecodePath;
using pelt::DxtFormat;
using pelt::testing::Fmt;

constexpr std::uint32_t kSides[] = {256, 1024, 4096};
constexpr Fmt kFormats[] = {Fmt::kDxt1, Fmt::kDxt3, Fmt::kDxt5};

// The formats of one path, as their FourCC: four characters, or a Direct3D format number.
struct Other {
  const char* name;
  std::uint32_t fourcc;
};
constexpr std::uint32_t FourCC(const char (&c)[5]) {
  return std::uint32_t{static_cast<unsigned char>(c[0])} |
         std::uint32_t{static_cast<unsigned char>(c[1])} << 8 |
         std::uint32_t{static_cast<unsigned char>(c[2])} << 16 |
         std::uint32_t{static_cast<unsigned char>(c[3])} << 24;
}
constexpr Other kOthers[] = {{"DXT2", FourCC("DXT2")},
                             {"DXT4", FourCC("DXT4")},
                             {"ATI1", FourCC("ATI1")},
                             {"ATI2", FourCC("ATI2")},
                             {"A8R8G8B8", 21},
                             {"X8R8G8B8", 22},
                             {"R8G8B8", 20},
                             {"R5G6B5", 23},
                             {"A4R4G4B4", 26},
                             {"L8", 50},
                             {"A8L8", 51}};

// The paths the processor supports, slowest first: the last is the one DecodeBlockRows takes.
std::vector<DecodePath> SupportedPaths() {
  std::vector<DecodePath> paths;
  for (DecodePath p : {DecodePath::kPortable, DecodePath::kSsse3, DecodePath::kAvx2}) {
    if (pelt::PathSupported(p)) paths.push_back(p);
  }
  return paths;
}
const char* PathName(DecodePath path) {
  return path == DecodePath::kPortable ? "portable" : path == DecodePath::kSsse3 ? "ssse3" : "avx2";
}

DxtFormat ToFormat(Fmt f) {
  return f == Fmt::kDxt1 ? DxtFormat::kDxt1 : f == Fmt::kDxt3 ? DxtFormat::kDxt3 : DxtFormat::kDxt5;
}

// The output buffer of each size, shared by the floor and the decoders, and the random blocks
// (both DXT1 palette modes, both DXT5 alpha modes) of each format and size, made on first use.
// The output starts on a cache line, as a page-aligned one (a mapped file, say) would.
std::span<BgraPixel> Output(std::uint32_t side) {
  struct Free {
    void operator()(BgraPixel* p) const { ::operator delete[](p, std::align_val_t{64}); }
  };
  static std::map<std::uint32_t, std::unique_ptr<BgraPixel[], Free>> outputs;
  const std::size_t pixels = std::size_t{side} * side;
  auto& out = outputs[side];
  if (!out) {
    out.reset(new (std::align_val_t{64}) BgraPixel[pixels]);
    std::fill_n(out.get(), pixels, BgraPixel{0});  // touches every page up front
  }
  return std::span(out.get(), pixels);
}
const pelt::testing::Bytes& Blocks(Fmt f, std::uint32_t side) {
  static std::map<std::pair<Fmt, std::uint32_t>, pelt::testing::Bytes> blocks;
  auto& b = blocks[{f, side}];
  if (b.empty()) {
    std::mt19937 rng(side);
    b = pelt::testing::RandomBlocks(f, pelt::testing::BlocksFor(side, side), &rng);
  }
  return b;
}

// A side x side surface of `other`, and its random data, made on first use.
const std::pair<pelt::DdsSurface, pelt::testing::Bytes>& OtherSurface(const Other& other,
                                                                      std::uint32_t side) {
  static std::map<std::pair<std::uint32_t, std::uint32_t>,
                  std::pair<pelt::DdsSurface, pelt::testing::Bytes>>
      surfaces;
  auto& s = surfaces[{other.fourcc, side}];
  if (s.second.empty()) {
    const pelt::testing::Bytes header =
        pelt::testing::DdsBuilder(side, side).FourCC(other.fourcc).Build();
    s.first = *pelt::CheckDdsEntry(header, std::uint64_t{1} << 40);
    std::mt19937 rng(side);
    s.second.resize(s.first.block_bytes);
    for (std::uint8_t& b : s.second) b = static_cast<std::uint8_t>(rng());
  }
  return s;
}

void SetPixelCounters(benchmark::State& state, std::uint32_t side) {
  const double pixels = static_cast<double>(side) * side;
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pixels));
  state.counters["Mpix/s"] =
      benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void Floor(benchmark::State& state, std::uint32_t side) {
  const std::span<BgraPixel> out = Output(side);
  for (auto _ : state) {
    std::memset(out.data(), 0x5A, out.size() * sizeof(BgraPixel));
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, side);
}

void Decode(benchmark::State& state, Fmt f, std::uint32_t side, DecodePath path) {
  const std::span<BgraPixel> out = Output(side);
  const auto& blocks = Blocks(f, side);
  for (auto _ : state) {
    pelt::DecodeBlockRowsWith(path, ToFormat(f), blocks.data(), side / 4, side / 4, out.data(),
                              side);
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, side);
}

void DecodeOther(benchmark::State& state, Other other, std::uint32_t side) {
  const std::span<BgraPixel> out = Output(side);
  const auto& [surface, data] = OtherSurface(other, side);
  for (auto _ : state) {
    pelt::DecodeRows(surface, data.data(), surface.yblocks, out.data(), side);
    benchmark::ClobberMemory();
  }
  SetPixelCounters(state, side);
}

std::string FloorName(std::uint32_t side) { return "memset/" + std::to_string(side); }
std::string DecodeName(Fmt f, std::uint32_t side, DecodePath path) {
  return std::string("decode/") + pelt::FormatName(ToFormat(f)) + "/" + std::to_string(side) + "/" +
         PathName(path);
}

std::string OtherName(const Other& other, std::uint32_t side) {
  return std::string("decode/") + other.name + "/" + std::to_string(side);
}

// Each benchmark's Mpix/s, kept for the summary: the median when there are repetitions,
// otherwise the last run.
class Figures {
 public:
  void Keep(const std::vector<benchmark::BenchmarkReporter::Run>& runs) {
    using Run = benchmark::BenchmarkReporter::Run;
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const auto it = run.counters.find("Mpix/s");
      if (it == run.counters.end()) continue;
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") median_[name] = it->second.value;
      } else {
        last_[name] = it->second.value;
      }
    }
  }

  // Mpix/s of `name`, or 0 when it did not run.
  double Mpix(const std::string& name) const {
    if (auto it = median_.find(name); it != median_.end()) return it->second;
    if (auto it = last_.find(name); it != last_.end()) return it->second;
    return 0;
  }

 private:
  std::map<std::string, double> median_, last_;
};

// Google Benchmark's own output in the format asked for, keeping the figures on the way.
template <class Base>
class KeepingReporter : public Base {
 public:
  template <class... BaseArgs>
  explicit KeepingReporter(Figures* figures, BaseArgs... args) : Base(args...), figures_(figures) {}
  void ReportRuns(const std::vector<benchmark::BenchmarkReporter::Run>& runs) override {
    Base::ReportRuns(runs);
    figures_->Keep(runs);
  }

 private:
  Figures* figures_;
};

void PrintSummary(const Figures& r, std::FILE* to) {
  std::fprintf(to, "\n%-7s %6s %-9s %11s %9s\n", "format", "side", "path", "Mpixel/s", "/ memset");
  for (std::uint32_t side : kSides) {
    const double floor = r.Mpix(FloorName(side));
    if (floor > 0)
      std::fprintf(to, "%-7s %6u %-9s %11.0f %9s\n", "memset", side, "", floor, "1.00");
    for (Fmt f : kFormats) {
      for (DecodePath path : SupportedPaths()) {
        const double mpix = r.Mpix(DecodeName(f, side, path));
        if (mpix <= 0) continue;
        std::fprintf(to, "%-7s %6u %-9s %11.0f", pelt::FormatName(ToFormat(f)), side,
                     PathName(path), mpix);
        if (floor > 0) std::fprintf(to, " %9.2f", mpix / floor);
        std::fprintf(to, "%s\n", path == SupportedPaths().back() ? "  (best path)" : "");
      }
    }
    for (const Other& other : kOthers) {
      const double mpix = r.Mpix(OtherName(other, side));
      if (mpix <= 0) continue;
      std::fprintf(to, "%-8s %5u %-9s %11.0f", other.name, side, "", mpix);
      if (floor > 0) std::fprintf(to, " %9.2f", mpix / floor);
      std::fprintf(to, "\n");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (std::uint32_t side : kSides) {
    benchmark::RegisterBenchmark(FloorName(side).c_str(), Floor, side)->UseRealTime();
    for (Fmt f : kFormats) {
      for (DecodePath path : SupportedPaths()) {
        benchmark::RegisterBenchmark(DecodeName(f, side, path).c_str(), Decode, f, side, path)
            ->UseRealTime();
      }
    }
    for (const Other& other : kOthers) {
      benchmark::RegisterBenchmark(OtherName(other, side).c_str(), DecodeOther, other, side)
          ->UseRealTime();
    }
  }
  std::string format = "console";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--benchmark_format=", 19) == 0) format = argv[i] + 19;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Figures figures;
  std::unique_ptr<benchmark::BenchmarkReporter> reporter;
  if (format == "json") {
    reporter = std::make_unique<KeepingReporter<benchmark::JSONReporter>>(&figures);
  } else {
    const auto options = isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                               : benchmark::ConsoleReporter::OO_Tabular;
    reporter = std::make_unique<KeepingReporter<benchmark::ConsoleReporter>>(&figures, options);
  }
  benchmark::RunSpecifiedBenchmarks(reporter.get());
  benchmark::Shutdown();
  // The summary goes to stderr when stdout carries JSON.
  PrintSummary(figures, format == "console" ? stdout : stderr);
  return 0;
}
