#include <string_view>
#include <vector>

#include "pelt.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return pelt::Main(args, stdout, stderr);
}
