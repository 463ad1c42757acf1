// copy_floor FILE RANGES OUTDIR
//
// The floor pelt's copying of TGA entries is measured against: copies byte ranges of FILE into
// new files in OUTDIR with copy_file_range, and nothing else. RANGES holds one range a line,
// "offset size name" (as make_bench_archive writes them); each range becomes OUTDIR/name,
// created or truncated. Unlike pelt it checks nothing, announces nothing, writes no temporary
// file and renames nothing: the time it takes is what the kernel needs to move the bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "copy_floor: %s: %s\n", what.c_str(), std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: copy_floor FILE RANGES OUTDIR\n");
    return 2;
  }
  const int in = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(argv[1]);
  std::FILE* ranges = std::fopen(argv[2], "r");
  if (ranges == nullptr) return Fail(argv[2]);
  const std::string outdir = argv[3];

  std::uint64_t offset = 0, size = 0;
  char name[256];
  while (std::fscanf(ranges, "%" SCNu64 " %" SCNu64 " %255s", &offset, &size, name) == 3) {
    const std::string path = outdir + "/" + name;
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) return Fail(path);
    auto off_in = static_cast<loff_t>(offset);
    for (std::uint64_t left = size; left > 0;) {
      const std::size_t want = left > (1u << 30) ? (1u << 30) : static_cast<std::size_t>(left);
      const ssize_t n = ::copy_file_range(in, &off_in, out, nullptr, want, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Fail(path);
      left -= static_cast<std::uint64_t>(n);
    }
    if (::close(out) != 0) return Fail(path);
  }
  std::fclose(ranges);
  ::close(in);
  return 0;
}
