// Writing an output file safely: the bytes go to a temporary file in the output directory, which
// is renamed over the final name only when complete. A failure leaves no partial file, an
// existing file of that name stays untouched, and a symbolic link of that name is replaced by
// the rename, never written through.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "byte_source.h"
#include "status.h"

namespace pelt {

// Whether `name` is a plain file name that stays inside the output directory: not empty, not
// "." or "..", no '/' or '\', and no control characters.
bool IsPlainFileName(std::string_view name);

// Creates `dir` and its missing parents, like mkdir -p.
Status MakeDirectories(const std::string& dir);

class OutputFile {
 public:
  // Creates a temporary file in `dir` under a name of fixed length (".pelt-XXXXXX"), with the
  // permissions a plain create gives (0666 less the umask).
  static Result<OutputFile> Create(const std::string& dir);
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // removes the temporary file unless committed

  Status Write(std::span<const std::uint8_t> bytes);
  // Appends `size` bytes of `in` from `offset` (which the caller has checked lie inside it),
  // in the kernel where it can (copy_file_range), with plain reads and writes where it cannot.
  Status CopyFrom(const InputFile& in, std::uint64_t offset, std::uint64_t size);
  // Closes the file and renames it to `name` in the directory it was created in.
  Status Commit(const std::string& name);

 private:
  OutputFile(int fd, std::string dir, std::string temp_path)
      : fd_(fd), dir_(std::move(dir)), temp_path_(std::move(temp_path)) {}
  int fd_ = -1;
  std::string dir_;
  std::string temp_path_;  // empty once committed or moved from
};

}  // namespace pelt
