// The manual page: it renders without a single lint message, carries the project's version, and
// documents every option that --help lists.
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "testutil.h"

namespace pelt::testing {
namespace {

const std::string kManPage = std::string(PELT_SOURCE_DIR) + "/doc/pelt.1";

struct Command {
  int exit_code = -1;
  std::string output;  // stdout and stderr together
};

Command Shell(const std::string& command) {
  Command c;
  std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return c;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) c.output.append(buf, n);
  const int status = ::pclose(p);
  if (WIFEXITED(status)) c.exit_code = WEXITSTATUS(status);
  return c;
}

std::string ManPageText() {
  const auto bytes = ReadFile(kManPage);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

TEST(ManPage, LintsWithoutAnyMessage) {
  if (Shell("command -v mandoc").exit_code != 0) GTEST_SKIP() << "mandoc is not installed";
  // -T lint reports every level, style notes included.
  const Command lint = Shell("mandoc -T lint '" + kManPage + "'");
  EXPECT_EQ(lint.output, "");
  EXPECT_EQ(lint.exit_code, 0);
}

TEST(ManPage, CarriesTheProjectVersion) {
  const std::string page = ManPageText();
  ASSERT_FALSE(page.empty()) << kManPage;
  // .TH PELT 1 DATE "pelt VERSION" "User Commands"
  ASSERT_TRUE(page.starts_with(".TH PELT 1 ")) << page.substr(0, page.find('\n'));
  const std::size_t open = page.find('"');
  const std::size_t close = page.find('"', open + 1);
  ASSERT_LT(close, page.find('\n'));
  EXPECT_EQ(page.substr(open + 1, close - open - 1), "pelt " PELT_VERSION);
}

// The options --help names: the words that begin with a dash and a letter.
std::set<std::string> OptionsIn(const std::string& help) {
  std::set<std::string> options;
  std::size_t i = 0;
  while ((i = help.find('-', i)) != std::string::npos) {
    const bool word_start = i == 0 || help[i - 1] == ' ' || help[i - 1] == '\n' ||
                            help[i - 1] == ',';
    std::size_t end = i;
    while (end < help.size() && (help[end] == '-' || (help[end] >= 'a' && help[end] <= 'z'))) ++end;
    const std::string word = help.substr(i, end - i);
    const std::size_t letter = word.find_first_not_of('-');
    if (word_start && letter != std::string::npos && letter <= 2) options.insert(word);
    i = end;
  }
  return options;
}

TEST(ManPage, DocumentsEveryOptionOfTheHelp) {
  const std::string page = ManPageText();
  ASSERT_FALSE(page.empty()) << kManPage;
  TempDir dir;
  const RunResult help = RunPelt({"--help"}, dir.path());
  ASSERT_EQ(help.exit_code, 0);
  const std::set<std::string> options = OptionsIn(help.out);
  EXPECT_THAT(options, ::testing::IsSupersetOf({"-o", "--output-dir", "-l", "--list",
                                                "--strict-tga", "-h", "--help", "--version"}));
  for (const std::string& o : options) {
    std::string escaped;  // the page writes every '-' as "\-"
    for (char c : o) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(page.find(escaped), std::string::npos) << o << " is not in the manual page";
  }
}

}  // namespace
}  // namespace pelt::testing
