// make_sample DIR: writes DIR/sample.mix and DIR/sample.kzm, the sample archive and model
// (see tests/sample_data.h), creating DIR when missing.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "sample_data.h"

namespace {

bool Write(const std::string& path, const pelt::testing::Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample DIR\n");
    return 1;
  }
  const std::string dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "make_sample: %s: %s\n", dir.c_str(), ec.message().c_str());
    return 2;
  }
  const pelt::testing::Sample sample = pelt::testing::MakeSample();
  for (const auto& [name, bytes] : {std::pair{"sample.mix", &sample.archive},
                                    std::pair{"sample.kzm", &sample.model}}) {
    const std::string path = dir + "/" + name;
    errno = 0;
    if (!Write(path, *bytes)) {
      std::fprintf(stderr, "make_sample: %s: %s\n", path.c_str(),
                   errno != 0 ? std::strerror(errno) : "write failed");
      return 2;
    }
    std::printf("wrote %s (%zu bytes)\n", path.c_str(), bytes->size());
  }
  return 0;
}
