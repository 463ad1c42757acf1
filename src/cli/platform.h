// The few operations pelt needs from the system, behind one interface: an input opened for
// positional reads, an output written to a temporary file and renamed into place, directory
// creation, the command line, terminals, and the removal of a half-written file when the run is
// interrupted. platform_posix.cc and platform_windows.cc implement it; the build compiles one.
//
// Paths are UTF-8. The `name` given to OutputFile::Commit is an archive entry name: bytes that
// the POSIX build uses as they are, and the Windows build reads in the ANSI code page, as the
// game's own tools do.
#pragma once

#ifdef PELT_FORMATS_LIBRARY
#error "the formats library reads bytes; it does not see the platform layer or the driver"
#endif

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "byte_source.h"
#include "sink.h"
#include "status.h"

namespace pelt {

// An input file opened read-only. Only regular files are accepted: pelt seeks in both inputs.
// The check is made without blocking, so a FIFO or a device is refused at once.
class InputFile final : public ByteSource {
 public:
  static Result<InputFile> Open(const std::string& path);
  InputFile(InputFile&& other) noexcept : handle_(other.handle_), size_(other.size_) {
    other.handle_ = kNoHandle;
  }
  InputFile& operator=(InputFile&&) = delete;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() override;

  std::uint64_t size() const override { return size_; }

 private:
  friend class OutputFile;  // copies from the handle
  Status Read(std::uint64_t offset, std::span<std::uint8_t> out) const override;
  // The system's handle of the open file (a descriptor or a HANDLE); kNoHandle when closed.
  using Handle = std::intptr_t;
  static constexpr Handle kNoHandle = -1;
  InputFile(Handle handle, std::uint64_t size) : handle_(handle), size_(size) {}
  Handle handle_ = kNoHandle;
  std::uint64_t size_ = 0;
};

// The program's arguments after its name, as UTF-8. Windows reads them from the UTF-16 command
// line, so that paths in any script work; elsewhere they are `argv` as it is.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Whether `stream` writes to a terminal (on Windows, a console).
bool IsTerminal(std::FILE* stream);

// Whether pelt runs in a console window of its own, which closes as it ends: its standard output
// is a console that no other process is attached to, as when pelt.exe is started from Explorer.
// Never on POSIX systems.
bool InConsoleOfItsOwn();

// The number of processors this process may run on (at least 1).
unsigned UsableCores();

// Runs `work` on a new thread that the interruption signals never reach: their handler runs on
// the threads that create and rename output files, so that it never meets one half recorded.
std::thread StartWorker(std::function<void()> work);

// The most jobs a run takes at once (-j), and the most temporary files it keeps at once: a job
// may finish files ahead of the one to be renamed next, which wait, open and holding no memory,
// for their turn.
inline constexpr unsigned kMaxJobs = 64;
inline constexpr unsigned kMaxTemporaryFiles = 256;

// Creates `dir` and its missing parents, like mkdir -p.
Status MakeDirectories(const std::string& dir);

// Writing an output file safely: the bytes go to a temporary file in the output directory, which
// is renamed over the final name only when complete. A failure leaves no partial file, an
// existing file of that name stays untouched, and a symbolic link of that name is replaced by
// the rename, never written through. When the run is interrupted (SIGINT, SIGTERM, SIGHUP;
// Ctrl-C, Ctrl-Break on Windows) every temporary file being written (up to kMaxTemporaryFiles, from
// any thread) is removed before pelt dies of the interruption; files already renamed into place
// stay.
class OutputFile final : public Sink {
 public:
  // Creates a temporary file in `dir` (the current directory when empty) under a name of fixed
  // length (".pelt-XXXXXX"), with the permissions a plain create gives (0666 less the umask).
  static Result<OutputFile> Create(const std::string& dir);
  OutputFile(OutputFile&& other) noexcept
      : handle_(other.handle_),
        dir_(std::move(other.dir_)),
        temp_path_(std::move(other.temp_path_)) {
    other.handle_ = InputFile::kNoHandle;
    other.temp_path_.clear();
  }
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() override;  // removes the temporary file unless committed

  Status Write(std::span<const std::uint8_t> bytes) override;
  // Appends `size` bytes of `in` from `offset` (which the caller has checked lie inside it),
  // in the kernel where it can (copy_file_range), with plain reads and writes where it cannot.
  Status CopyFrom(const InputFile& in, std::uint64_t offset, std::uint64_t size);
  // Closes the file and renames it to `name` in the directory it was created in, replacing a
  // file of that name in one step.
  Status Commit(const std::string& name);

 private:
  using Handle = InputFile::Handle;
  OutputFile(Handle handle, std::string dir, std::string temp_path)
      : handle_(handle), dir_(std::move(dir)), temp_path_(std::move(temp_path)) {}
  Handle handle_ = InputFile::kNoHandle;
  std::string dir_;
  std::string temp_path_;  // empty once committed or moved from
};

}  // namespace pelt
