#include "args.h"

namespace pelt {

namespace {

Args BadOption(std::string_view option, std::string why) {
  Args a;
  a.command = Command::kBadOption;
  a.error_subject = std::string(option);
  a.error = std::move(why);
  return a;
}

}  // namespace

Args ParseArgs(std::span<const std::string_view> args) {
  Args out;
  std::size_t i = 0;
  while (i < args.size()) {
    const std::string_view a = args[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a.size() < 2 || a[0] != '-') break;  // the first positional ("-" alone is a file name)
    ++i;
    if (a == "-h" || a == "--help") {
      out.command = Command::kHelp;
      return out;
    }
    if (a == "--version") {
      out.command = Command::kVersion;
      return out;
    }
    if (a == "-l" || a == "--list") {
      out.options.list = true;
      continue;
    }
    if (a == "--strict-tga") {
      out.options.strict_tga = true;
      continue;
    }
    // The output directory: "-o DIR", "--output-dir DIR", "--output-dir=DIR" or "-oDIR".
    std::string_view dir;
    if (a == "-o" || a == "--output-dir") {
      if (i == args.size()) return BadOption(a, "option requires a directory");
      dir = args[i++];
    } else if (a.starts_with("--output-dir=")) {
      dir = a.substr(13);
    } else if (a.starts_with("-o")) {
      dir = a.substr(2);
    } else {
      return BadOption(a, "unknown option");
    }
    if (dir.empty()) return BadOption(a, "option requires a directory");
    out.options.output_dir = std::string(dir);
  }
  if (args.size() - i < 2) {
    out.command = Command::kUsage;
    return out;
  }
  out.command = Command::kRun;
  out.options.archive = std::string(args[i]);
  out.options.model = std::string(args[i + 1]);
  return out;
}

}  // namespace pelt
