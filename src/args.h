// The command line: options first, then the archive and the model. Options are recognised only
// before the first positional argument, "--" ends them, and arguments after the two positionals
// are ignored.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace pelt {

struct Options {
  std::string archive;
  std::string model;
  std::string output_dir;  // empty: the current directory
  bool list = false;       // print what the model refers to and where; write nothing
  bool strict_tga = false; // descriptor 0x28 instead of 0x2F
};

enum class Command { kRun, kUsage, kHelp, kVersion, kBadOption };

struct Args {
  Command command = Command::kUsage;
  Options options;
  std::string error_subject;  // kBadOption: the option as given
  std::string error;          // kBadOption: why
};

// Parses the arguments after the program name. Never fails: a bad option is a command too.
Args ParseArgs(std::span<const std::string_view> args);

}  // namespace pelt
