// The command line, parsed as GNU tools do: options anywhere until "--", short options combined
// ("-lo DIR", "-loDIR"), long options with "=" or a separate argument.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelt {

struct Options {
  // ARCHIVE, then every -a FILE in the order given; with `contents` or `extract`, every file name
  // given, then every -a FILE.
  std::vector<std::string> archives;
  std::vector<std::string> models;   // MODEL [MODEL...]
  std::vector<std::string> extract;  // -x PATTERN...: the entries to write; no models
  std::string output_dir;            // empty: the current directory
  bool list = false;                 // print what the models refer to and where; write nothing
  bool contents = false;             // print every entry of the archives; no models; write nothing
  bool raw = false;                  // write DDS entries as stored instead of converting them
  bool quiet = false;                // no "now writing" lines
  bool png = false;                  // write images as PNG files instead of TGA files
  bool strict_tga = false;           // descriptor 0x28 instead of 0x2F
  bool size_limit = true;            // refuse a run that writes more than 9x the archives' size
  unsigned jobs = 0;  // entries converted at once, 1 to 64; 0: one per usable core (at most 64)
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
