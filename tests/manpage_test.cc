// The manual page: it renders without a single lint message, carries the project's version, and
// documents every option that --help lists.
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "testutil.h"

namespace pelt::testing {
namespace {

const std::string kManPage = std::string(PELT_SOURCE_DIR) + "/doc/pelt.1";

TEST(ManPage, LintsWithoutAnyMessage) {
#ifdef _WIN32
  GTEST_SKIP() << "mandoc runs on the build machine, not on Windows";
#else
  if (std::system("command -v mandoc >/dev/null") != 0) GTEST_SKIP() << "mandoc is not installed";
  // -T lint reports every level, style notes included; stdout and stderr are read together.
  std::FILE* p = ::popen(("mandoc -T lint '" + kManPage + "' 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string output;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
  const int status = ::pclose(p);
  EXPECT_EQ(output, "");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#endif
}

TEST(ManPage, CarriesTheVersionAndEveryOptionOfTheHelp) {
  const auto bytes = ReadFile(kManPage);
  ASSERT_TRUE(bytes && !bytes->empty()) << kManPage;
  const std::string page(bytes->begin(), bytes->end());
  // .TH PELT 1 DATE "pelt VERSION" "User Commands"
  ASSERT_TRUE(page.starts_with(".TH PELT 1 ")) << page.substr(0, page.find('\n'));
  const std::size_t open = page.find('"');
  const std::size_t close = page.find('"', open + 1);
  ASSERT_LT(close, page.find('\n'));
  EXPECT_EQ(page.substr(open + 1, close - open - 1), "pelt " PELT_VERSION);

  // The options --help names: the words that begin with one or two dashes and a letter.
  TempDir dir;
  const RunResult help = RunPelt({"--help"}, dir.path());
  ASSERT_EQ(help.exit_code, 0);
  std::set<std::string> options;
  std::istringstream words(help.out);
  for (std::string w; words >> w;) {
    if (w.back() == ',') w.pop_back();
    const std::size_t letter = w.find_first_not_of('-');
    if (letter >= 1 && letter <= 2 && letter < w.size() &&
        std::islower(static_cast<unsigned char>(w[letter])))
      options.insert(w);
  }
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
