// The sample archive and model that scripts/sample.sh runs pelt on and the README shows: a few
// recognisable pictures in every format pelt reads, entries the model does not use, and a
// texture the archive lacks.
#pragma once

#include "testutil.h"

namespace pelt::testing {

struct Sample {
  Bytes archive;  // sample.mix
  Bytes model;    // sample.kzm
};

// The archive holds, in index order:
//   readme.txt    text, not referred to
//   Gradient.dds  DXT1 64 x 64 with mipmaps: red grows to the right, green downwards
//   checker.dds   DXT5 64 x 64 with mipmaps: 8-pixel squares, every other one transparent
//   stripes.dds   DXT3 50 x 30: dark text-like stripes on paper, fading out to the right
//   disc.tga      TGA 32 x 32 (4114 bytes): a ringed disc on a transparent ground
//   unused.dds    DXT1 16 x 16, not referred to
//   spare.tga     TGA 8 x 8, not referred to
// The model refers, in this order, to Gradient.tga, checker.tga, stripes.tga, disc.tga,
// GRADIENT.TGA (the first name again in another case) and rust.tga (not in the archive).
Sample MakeSample();

}  // namespace pelt::testing
