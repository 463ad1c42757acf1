#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "pelt.h"
#include "platform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = pelt::CommandLineArguments(argc, argv);
  const int status =
      pelt::Main(std::vector<std::string_view>(args.begin(), args.end()), stdout, stderr);
  // Started from Explorer, pelt.exe has a window of its own that closes as it ends: say where it
  // runs, and keep the window open until Enter.
  if (args.empty() && pelt::InConsoleOfItsOwn()) {
    std::fputs(
        "\npelt is a command-line tool: open a Command Prompt, change to the folder\n"
        "that holds pelt.exe and run it from there (pelt --help lists the options).\n"
        "Press Enter to close this window.",
        stdout);
    std::fflush(stdout);
    std::getchar();
  }
  return status;
}
