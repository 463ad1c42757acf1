// Runs inputs through a fuzz target without libFuzzer, so that any compiler's build (and ctest)
// can replay the seed corpus and the saved regression inputs:
//
//   replay_<target> PATH...
//
// Each PATH is a file or a directory, walked recursively in name order. A target that finds a
// broken invariant aborts, so the exit status is non-zero; the last "replay:" line on stderr
// names the input. Finding no input at all is an error too: a corpus that was never generated
// must not pass for one that was replayed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
      for (const auto& e : fs::recursive_directory_iterator(path))
        if (e.is_regular_file()) inputs.push_back(e.path());
    } else if (fs::is_regular_file(path, ec)) {
      inputs.push_back(path);
    } else {
      std::fprintf(stderr, "replay: %s: no such file or directory\n", argv[i]);
      return 2;
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "replay: no inputs\n");
    return 2;
  }
  for (const fs::path& path : inputs) {
    std::fprintf(stderr, "replay: %s\n", path.c_str());
    std::ifstream f(path, std::ios::binary);
    const std::vector<char> chars{std::istreambuf_iterator<char>(f),
                                  std::istreambuf_iterator<char>()};
    if (!f.good() && !f.eof()) {
      std::fprintf(stderr, "replay: %s: cannot read\n", path.c_str());
      return 2;
    }
    // An exact-size heap copy, as libFuzzer hands it over: ASan sees a one-byte over-read.
    const std::vector<std::uint8_t> bytes(chars.begin(), chars.end());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::fprintf(stderr, "replay: %zu inputs, no broken invariant\n", inputs.size());
  return 0;
}
