// Entry and texture names: case folding, how a name is shown in a message, and the output name
// each step of the run gives an archive entry.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pelt {

// Lower-cases the ASCII letters of `s` in place; other bytes are kept.
void LowerAscii(std::string* s);

// `s` as it can be shown on one line: control bytes are written as \xNN.
std::string Printable(std::string_view s);

// The names an archive entry goes by in the two steps of the run. The TGA step takes the
// lower-cased name when it holds ".tga" anywhere; the DDS step, when it holds ".dds" anywhere,
// takes it with its last three characters made "tga" whatever they are (rock.dds.old gives
// rock.dds.tga), so that a model naming grass.tga finds the entry grass.dds.
struct StepNames {
  std::optional<std::string> tga, dds;
};
StepNames OutputNames(std::string_view entry_name);

}  // namespace pelt
