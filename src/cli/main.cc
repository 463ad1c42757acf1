#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "pelt.h"
#include "platform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = pelt::CommandLineArguments(argc, argv);
  return pelt::Main(std::vector<std::string_view>(args.begin(), args.end()), stdout, stderr);
}
