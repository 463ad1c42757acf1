// Runs a fuzz target without libFuzzer, so that any build, and ctest, replays the seeds and the
// saved findings: replay_<target> DIR... runs every file under each DIR. Finding no input is an
// error too: seeds that were never made must not pass for seeds replayed.
#include <cstdio>
#include <filesystem>

#include "testutil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(argv[i])) {
      if (e.is_directory()) continue;
      std::fprintf(stderr, "replay: %s\n", e.path().c_str());
      const auto bytes = pelt::testing::ReadFile(e.path().string()).value();
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++inputs;
    }
  }
  std::fprintf(stderr, "replay: %zu inputs, no broken invariant\n", inputs);
  return inputs == 0 ? 2 : 0;
}
