#include "args.h"

#include <gtest/gtest.h>

#include <vector>

namespace pelt {
namespace {

TEST(Args, OptionsOnlyBeforeTheFirstPositional) {
  struct Case {
    const char* what;
    std::vector<std::string_view> args;
    Command command;
    const char* archive;
    const char* model;
    const char* output_dir;
    bool list;
  };
  const Case kCases[] = {
      {"two positionals", {"a.mix", "m.kzm"}, Command::kRun, "a.mix", "m.kzm", "", false},
      {"one positional is usage", {"a.mix"}, Command::kUsage, "", "", "", false},
      {"options alone are usage", {"-l", "-o", "d"}, Command::kUsage, "", "", "d", true},
      {"option after positionals is ignored", {"a", "m", "-l"}, Command::kRun, "a", "m", "", false},
      {"-- lets a file look like an option", {"--", "-l", "m"}, Command::kRun, "-l", "m", "", false},
      {"-o DIR", {"-o", "out", "a", "m"}, Command::kRun, "a", "m", "out", false},
      {"-oDIR", {"-oout", "a", "m"}, Command::kRun, "a", "m", "out", false},
      {"--output-dir=DIR", {"--output-dir=x/y", "a", "m"}, Command::kRun, "a", "m", "x/y", false},
      {"--output-dir DIR", {"--output-dir", "z", "a", "m"}, Command::kRun, "a", "m", "z", false},
      {"a lone dash is a file name", {"-", "m"}, Command::kRun, "-", "m", "", false},
      {"--list", {"--list", "a", "m"}, Command::kRun, "a", "m", "", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const Args a = ParseArgs(c.args);
    EXPECT_EQ(a.command, c.command);
    if (c.command == Command::kRun) {
      EXPECT_EQ(a.options.archive, c.archive);
      EXPECT_EQ(a.options.model, c.model);
    }
    EXPECT_EQ(a.options.output_dir, c.output_dir);
    EXPECT_EQ(a.options.list, c.list);
  }
}

TEST(Args, BadOptionsNameTheOption) {
  struct Case {
    std::vector<std::string_view> args;
    const char* subject;
  };
  const Case kCases[] = {
      {{"-x", "a", "m"}, "-x"},
      {{"--frobnicate", "a", "m"}, "--frobnicate"},
      {{"-o"}, "-o"},
      {{"--output-dir="}, "--output-dir="},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.subject);
    const Args a = ParseArgs(c.args);
    EXPECT_EQ(a.command, Command::kBadOption);
    EXPECT_EQ(a.error_subject, c.subject);
  }
  EXPECT_EQ(ParseArgs(std::vector<std::string_view>{"-h", "-x"}).command, Command::kHelp);
  EXPECT_EQ(ParseArgs(std::vector<std::string_view>{"--version"}).command, Command::kVersion);
}

}  // namespace
}  // namespace pelt
