#include <string>
#include <string_view>
#include <vector>

#include "pelt.h"

#ifdef _WIN32
#include <windows.h>

// Windows passes the command line as UTF-16; pelt takes its arguments as UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> utf8;
  for (int i = 1; i < argc; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string& arg = utf8.emplace_back(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), n, nullptr, nullptr);
  }
  std::vector<std::string_view> args(utf8.begin(), utf8.end());
  return pelt::Main(args, stdout, stderr);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return pelt::Main(args, stdout, stderr);
}
#endif
