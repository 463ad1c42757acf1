#include "names.h"

#include <cstdio>

namespace pelt {

void LowerAscii(std::string* s) {
  for (char& c : *s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

std::string FoldedName(std::string_view name) {
  std::string key(name);
  LowerAscii(&key);
  return key;
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
  std::string name = FoldedName(entry_name);
  if (name.find(".tga") != std::string::npos) names.tga = name;
  if (name.find(".dds") != std::string::npos) {
    name.replace(name.size() - 3, 3, "tga");
    names.dds = std::move(name);
  }
  return names;
}

namespace {

// A device name, alone or before an extension ("aux.tga"), opens the device on Windows, not a
// file.
bool IsWindowsDeviceName(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  stem = FoldedName(stem);
  for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"})
    if (stem == device) return true;
  return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

bool IsPlainFileName(std::string_view name, NameRules rules) {
  if (name.empty() || name == "." || name == "..") return false;
  const std::string_view reserved = rules == NameRules::kWindows ? "/\\:*?\"<>|" : "/\\";
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || reserved.find(c) != std::string_view::npos) return false;
  }
  if (rules == NameRules::kPosix) return true;
  // Windows drops a trailing dot or space from a name.
  return name.back() != '.' && name.back() != ' ' && !IsWindowsDeviceName(name);
}

}  // namespace pelt
