// The platform layer on Windows: CreateFileW, ReadFile and WriteFile on UTF-16 paths, MoveFileExW
// for the commit, a console control handler that removes the temporary file being written on
// Ctrl-C, Ctrl-Break or the closing of the console, and GetConsoleMode for what is a console.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <thread>
#include <vector>

#include "platform.h"

namespace pelt {

namespace {

// The reason for a failed call: in the words pelt uses on POSIX systems where there is a
// counterpart (strerror of the matching errno), in the system's own words otherwise.
Status FromWin32(DWORD error) {
  static constexpr struct {
    DWORD error;
    int errno_value;
  } kErrno[] = {
      {ERROR_FILE_NOT_FOUND, ENOENT},
      {ERROR_PATH_NOT_FOUND, ENOENT},
      {ERROR_INVALID_DRIVE, ENOENT},
      {ERROR_BAD_NETPATH, ENOENT},
      {ERROR_BAD_NET_NAME, ENOENT},
      {ERROR_ACCESS_DENIED, EACCES},
      {ERROR_SHARING_VIOLATION, EACCES},
      {ERROR_LOCK_VIOLATION, EACCES},
      {ERROR_FILE_EXISTS, EEXIST},
      {ERROR_ALREADY_EXISTS, EEXIST},
      {ERROR_DISK_FULL, ENOSPC},
      {ERROR_HANDLE_DISK_FULL, ENOSPC},
      {ERROR_DIRECTORY, ENOTDIR},
      {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
      {ERROR_OUTOFMEMORY, ENOMEM},
      {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
      {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
  };
  for (const auto& e : kErrno)
    if (e.error == error) return Status::FromErrno(e.errno_value);
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n > 0 ? std::string(text, n) : "Windows error " + std::to_string(error);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return Status::IoError(std::move(message));
}

Status LastError() { return FromWin32(GetLastError()); }

// Paths are UTF-8; archive entry names are bytes in the ANSI code page.
std::wstring Widen(const std::string& s, UINT code_page = CP_UTF8) {
  if (s.empty()) return std::wstring();
  const int n = MultiByteToWideChar(code_page, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t FromHandle(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

}  // namespace

// ---- inputs ---------------------------------------------------------------------------------

Result<InputFile> InputFile::Open(const std::string& path) {
  // FILE_FLAG_BACKUP_SEMANTICS opens a directory too, so that it is refused for what it is.
  // Neither a pipe nor a device blocks the open; both are refused below.
  const HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // A name no file can have (a pattern such as *.kzm) names no file.
    if (GetLastError() == ERROR_INVALID_NAME) return Status::FromErrno(ENOENT);
    return LastError();
  }
  BY_HANDLE_FILE_INFORMATION info;
  Status refused;
  if (GetFileType(h) != FILE_TYPE_DISK)
    refused = Status::IoError("not a regular file");
  else if (!GetFileInformationByHandle(h, &info))
    refused = LastError();
  else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    refused = Status::FromErrno(EISDIR);
  if (!refused.ok()) {
    CloseHandle(h);
    return refused;
  }
  return InputFile(FromHandle(h), std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow);
}

InputFile::~InputFile() {
  if (handle_ != kNoHandle) CloseHandle(AsHandle(handle_));
}

Status InputFile::Read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const auto want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), out.data() + done, want, &got, &where)) {
      if (GetLastError() != ERROR_HANDLE_EOF) return LastError();
      got = 0;
    }
    if (got == 0) return Status::Corrupt("unexpected end of file");  // shrank while we read it
    done += got;
  }
  return Status::Ok();
}

// ---- directories ----------------------------------------------------------------------------

Status MakeDirectories(const std::string& dir) {
  if (dir.empty()) return Status::Ok();
  const std::wstring path = Widen(dir);
  // A drive ("C:") or a share ("\\server\share") is where making directories starts.
  std::size_t start = 0;
  if (path.size() >= 2 && path[1] == L':') {
    start = 2;
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    start = path.find_first_of(L"/\\", path.find_first_of(L"/\\", 2) + 1);
    if (start == std::wstring::npos) start = path.size();
  }
  for (std::size_t end = start; end <= path.size(); ++end) {
    if (end < path.size() && !IsSeparator(path[end])) continue;
    if (end == 0 || IsSeparator(path[end - 1]) || end <= start) continue;
    const std::wstring prefix = path.substr(0, end);
    const DWORD attributes = GetFileAttributesW(prefix.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Status::FromErrno(ENOTDIR);
      continue;
    }
    if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return LastError();
  }
  return Status::Ok();
}

namespace {

// ---- interrupt cleanup ----------------------------------------------------------------------

// The temporary files being written, of every job. The console control handler runs on a thread
// of its own; the lock keeps it from running while a temporary file is created, renamed or
// removed, and, once it has the lock, keeps any further file from being created until the
// process ends.
SRWLOCK g_temp_lock = SRWLOCK_INIT;
std::vector<std::wstring> g_temp_paths;

class TempLock {
 public:
  TempLock() { AcquireSRWLockExclusive(&g_temp_lock); }
  ~TempLock() { ReleaseSRWLockExclusive(&g_temp_lock); }
  TempLock(const TempLock&) = delete;
  TempLock& operator=(const TempLock&) = delete;
};

// The temporary file was opened with FILE_SHARE_DELETE, so it can be deleted while the main
// thread still writes to it; it goes when the process ends, with the status Windows programs
// end with on Ctrl-C.
BOOL WINAPI RemoveTempAndExit(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  AcquireSRWLockExclusive(&g_temp_lock);  // never released
  for (const std::wstring& path : g_temp_paths) DeleteFileW(path.c_str());
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

void InstallCleanupHandler() {
  static const bool installed = SetConsoleCtrlHandler(RemoveTempAndExit, TRUE);
  static_cast<void>(installed);
}

// Both are called with the lock held.
void Arm(const std::wstring& path) { g_temp_paths.push_back(path); }

void Disarm(const std::wstring& path) { std::erase(g_temp_paths, path); }

// ---- outputs --------------------------------------------------------------------------------

// Six characters for a temporary name, different on every call and in every process.
std::string TempSuffix() {
  static std::uint64_t state = [] {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart) ^ std::uint64_t{GetCurrentProcessId()} << 32;
  }();
  state += 0x9E3779B97F4A7C15u;  // splitmix64
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  z ^= z >> 31;
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 6; ++i, z /= 62) suffix += kChars[z % 62];
  return suffix;
}

Status WriteAll(HANDLE h, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const auto want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    DWORD wrote = 0;
    if (!WriteFile(h, p, want, &wrote, nullptr)) return LastError();
    p += wrote;
    n -= wrote;
  }
  return Status::Ok();
}

}  // namespace

Result<OutputFile> OutputFile::Create(const std::string& dir) {
  InstallCleanupHandler();
  const std::string d = dir.empty() ? std::string(".") : dir;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = d + "\\.pelt-" + TempSuffix();
    const std::wstring wide = Widen(path);
    TempLock lock;
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      Arm(wide);
      return OutputFile(FromHandle(h), d, std::move(path));
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return LastError();
  }
  return FromWin32(ERROR_FILE_EXISTS);
}

OutputFile::~OutputFile() {
  if (handle_ != InputFile::kNoHandle) CloseHandle(AsHandle(handle_));
  if (!temp_path_.empty()) {
    const std::wstring wide = Widen(temp_path_);
    TempLock lock;
    DeleteFileW(wide.c_str());
    Disarm(wide);
  }
}

Status OutputFile::Write(std::span<const std::uint8_t> bytes) {
  return WriteAll(AsHandle(handle_), bytes.data(), bytes.size());
}

Status OutputFile::CopyFrom(const InputFile& in, std::uint64_t offset, std::uint64_t size) {
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 20)));
  while (size > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, buf.size()));
    if (Status s = in.ReadAt(offset, std::span(buf).first(n)); !s.ok()) return s;
    if (Status s = WriteAll(AsHandle(handle_), buf.data(), n); !s.ok()) return s;
    offset += n;
    size -= n;
  }
  return Status::Ok();
}

Status OutputFile::Commit(const std::string& name) {
  const HANDLE h = AsHandle(handle_);
  handle_ = InputFile::kNoHandle;
  if (!CloseHandle(h)) return LastError();
  const std::wstring temp = Widen(temp_path_);
  const std::wstring final_path = Widen(dir_) + L"\\" + Widen(name, CP_ACP);
  TempLock lock;
  if (!MoveFileExW(temp.c_str(), final_path.c_str(), MOVEFILE_REPLACE_EXISTING)) return LastError();
  Disarm(temp);
  temp_path_.clear();
  return Status::Ok();
}

// The C runtime's own split of the UTF-16 command line, the one wmain is given.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int glob, int* mode);

std::vector<std::string> CommandLineArguments(int, char**) {
  int argc = 0, mode = 0;
  wchar_t** argv = nullptr;
  wchar_t** env = nullptr;
  if (__wgetmainargs(&argc, &argv, &env, 0, &mode) != 0) argc = 0;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string& arg = args.emplace_back(n > 1 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), n, nullptr, nullptr);
  }
  return args;
}

// ---- consoles -------------------------------------------------------------------------------

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(AsHandle(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

// Started from Explorer, pelt is the one process of the console Windows made for it; started
// from cmd, PowerShell or a script, their process shares the console, or output goes elsewhere.
bool InConsoleOfItsOwn() {
  DWORD mode = 0;
  DWORD processes[2];
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0 &&
         GetConsoleProcessList(processes, 2) == 1;
}

// Ctrl-C reaches a handler thread of its own, which takes the lock Arm and Disarm are called under.
std::thread StartWorker(std::function<void()> work) { return std::thread(std::move(work)); }

unsigned UsableCores() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace pelt
