// The manual page: it renders without a single lint message, carries the project's version, and
// documents every option that --help lists.
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
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
  std::smatch th;
  ASSERT_TRUE(std::regex_search(page, th, std::regex(R"re(^\.TH PELT 1 \S+ "([^"]*)")re")));
  EXPECT_EQ(th[1], "pelt " PELT_VERSION);
}

TEST(ManPage, DocumentsEveryOptionOfTheHelp) {
  const std::string page = ManPageText();
  ASSERT_FALSE(page.empty()) << kManPage;
  TempDir dir;
  const RunResult help = RunPelt({"--help"}, dir.path());
  ASSERT_EQ(help.exit_code, 0);
  const std::regex option(R"((^|[\s,])(--?[a-z][a-z-]*))");
  std::set<std::string> options;
  for (std::sregex_iterator it(help.out.begin(), help.out.end(), option), end; it != end; ++it)
    options.insert((*it)[2]);
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
