// The fixture of convert_test.cc's end-to-end runs: the inputs in root/in, pelt run in root/work.
#pragma once

#include <algorithm>
#include <filesystem>

#include "testutil.h"

namespace pelt::testing {

inline void WriteFile(const std::string& path, std::string_view s) { WriteFile(path, ToBytes(s)); }

class RunScene {
 public:
  RunScene() {
    std::filesystem::create_directories(work()), std::filesystem::create_directory(in());
  }
  std::string in() const { return root_ / "in"; }
  std::string work() const { return root_ / "work"; }
  RunResult Run(const Bytes& archive, const Bytes& model) const {
    WriteFile(in() + "/a.mix", archive);
    WriteFile(in() + "/m.kzm", model);
    return RunPelt({in() + "/a.mix", in() + "/m.kzm"}, work());
  }
  std::optional<Bytes> Out(const std::string& name) const { return ReadFile(work() + "/" + name); }
  std::vector<std::string> Written() const {  // the names in work(), sorted
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(work()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  TempDir root_;
};

}  // namespace pelt::testing
