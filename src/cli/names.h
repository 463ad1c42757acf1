// Entry and texture names: case folding, how a name is shown in a message, what kind of entry a
// name stands for, patterns over names, and which names are safe to create as files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelt {

// Lower-cases the ASCII letters of `s` in place; other bytes are kept.
void LowerAscii(std::string* s);

// The key under which names match: `name` with its ASCII letters lower-cased. Texture names
// find entries, and model names find entries, by equal keys.
std::string FoldedName(std::string_view name);

// `s` as it can be shown on one line: control bytes are written as \xNN.
std::string Printable(std::string_view s);

// What an archive entry holds, decided by its name alone (ASCII case ignored): a DDS image when
// the name holds ".dds" anywhere (rock.dds.old too), else a TGA image when it holds ".tga"
// anywhere, else a model when it ends in ".kzm", else something pelt does not read. The run, -t
// and --list all ask this one function.
enum class EntryKind : std::uint8_t { kDds, kTga, kModel, kOther };
EntryKind KindOf(std::string_view entry_name);

// Whether a model argument is a pattern over entry names: it holds '*', '?' or '['.
bool IsPattern(std::string_view arg);

// Whether the whole of `name` matches `pattern`, ASCII case ignored: '*' matches any run of
// characters, '?' one character, and a class one character of a set: "[abc]", "[a-z]", or with
// '!' first ("[!a-z]") one character outside it; a ']' right after "[" or "[!" is one of the set,
// and a '[' with no ']' after it is an ordinary character. Takes time proportional to the
// lengths of the two multiplied at worst, whatever the pattern.
bool MatchesPattern(std::string_view pattern, std::string_view name);

// The file-name rules of a system: what a name must avoid to be created as it is.
enum class NameRules { kPosix, kWindows };
#ifdef _WIN32
inline constexpr NameRules kHostNameRules = NameRules::kWindows;
#else
inline constexpr NameRules kHostNameRules = NameRules::kPosix;
#endif

// Why `name` is not a plain file name that stays inside the output directory and that the
// system stores as it is, or nullptr when it is one: it must not be empty, nor "." or "..", and
// hold no '/' or '\' and no control characters; under the Windows rules also none of
// : * ? " < > |, no device name such as CON or aux.tga, and no trailing dot or space.
const char* WhyNotPlainFileName(std::string_view name, NameRules rules = kHostNameRules);

}  // namespace pelt
