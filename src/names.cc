#include "names.h"

#include <cstdio>

namespace pelt {

void LowerAscii(std::string* s) {
  for (char& c : *s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

std::string Printable(std::string_view s) {
  std::string out;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

StepNames OutputNames(std::string_view entry_name) {
  StepNames names;
  std::string name(entry_name);
  LowerAscii(&name);
  if (name.find(".tga") != std::string::npos) names.tga = name;
  if (name.find(".dds") != std::string::npos) {
    name.replace(name.size() - 3, 3, "tga");
    names.dds = std::move(name);
  }
  return names;
}

}  // namespace pelt
