#include "names.h"

#include <cstdio>

namespace pelt {

namespace {

// `c` with an ASCII capital made small; other bytes as they are.
unsigned char Fold(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

}  // namespace

void LowerAscii(std::string* s) {
  for (char& c : *s) c = static_cast<char>(Fold(c));
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

EntryKind KindOf(std::string_view entry_name) {
  const std::string name = FoldedName(entry_name);
  if (name.find(".dds") != std::string::npos) return EntryKind::kDds;
  if (name.find(".tga") != std::string::npos) return EntryKind::kTga;
  return name.ends_with(".kzm") ? EntryKind::kModel : EntryKind::kOther;
}

bool IsPattern(std::string_view arg) { return arg.find_first_of("*?[") != std::string_view::npos; }

namespace {

// Whether the item of `pattern` at `p` (not a star: a question mark, a class or an ordinary
// character) matches `c`; `*next` is set to the position after the item.
bool ItemMatches(std::string_view pattern, std::size_t p, char c, std::size_t* next) {
  *next = p + 1;
  if (pattern[p] == '?') return true;
  if (pattern[p] == '[') {
    std::size_t i = p + 1;
    const bool negated = i < pattern.size() && pattern[i] == '!';
    if (negated) ++i;
    const std::size_t first = i;
    bool in_set = false;
    for (; i < pattern.size() && (pattern[i] != ']' || i == first); ++i) {
      const unsigned char low = Fold(pattern[i]);
      unsigned char high = low;
      if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
        high = Fold(pattern[i + 2]);
        i += 2;
      }
      if (low <= Fold(c) && Fold(c) <= high) in_set = true;
    }
    if (i < pattern.size()) {
      *next = i + 1;
      return in_set != negated;
    }
  }
  return Fold(pattern[p]) == Fold(c);
}

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

bool MatchesPattern(std::string_view pattern, std::string_view name) {
  // Items match one character each, so only a star can take more: on a mismatch the last star
  // takes one character more and matching resumes after it. Earlier stars never need to, which
  // keeps the time at most the product of the lengths.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t after_star = std::string_view::npos;
  std::size_t star_end = 0;  // where in `name` the last star's match ends
  while (n < name.size()) {
    std::size_t next = 0;
    if (p < pattern.size() && pattern[p] == '*') {
      after_star = ++p;
      star_end = n;
    } else if (p < pattern.size() && ItemMatches(pattern, p, name[n], &next)) {
      p = next;
      ++n;
    } else if (after_star != std::string_view::npos) {
      p = after_star;
      n = ++star_end;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

const char* WhyNotPlainFileName(std::string_view name, NameRules rules) {
  if (name.empty()) return "is empty";
  if (name == "." || name == "..") return "is . or ..";
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return "holds a control character";
    if (c == '/' || c == '\\') return "holds a path separator";
    if (rules == NameRules::kWindows &&
        std::string_view(":*?\"<>|").find(c) != std::string_view::npos)
      return "holds a character Windows does not allow in names";
  }
  if (rules == NameRules::kPosix) return nullptr;
  // Windows drops a trailing dot or space from a name.
  if (name.back() == '.' || name.back() == ' ') return "ends with a dot or a space";
  return IsWindowsDeviceName(name) ? "is a device name on Windows" : nullptr;
}

}  // namespace pelt
