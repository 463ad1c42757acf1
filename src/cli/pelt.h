// The run: the only code that prints. It loads the directory of every archive, collects the
// texture names of every model (files, or archive entries found by name or pattern), or with -x
// the entries whose names match, plans the run (plan.h) and carries the plan out: each texture
// from the first archive that holds it, written as a TGA file (TGA entries byte for byte, DDS
// entries decoded), or as a PNG file with --png, or as stored with --raw, on -j worker threads
// while this thread creates, announces and renames the files in plan order. -t lists the
// archives' entries and --list the plan instead.
//
// Exit status: 0 when the run completed and nothing was reported, 1 after the usage text (or a
// bad option), 2 when anything was reported on stderr. Every problem is one line on stderr,
// "pelt: SUBJECT: reason", SUBJECT being the input file or the output file name.
#pragma once

#ifdef PELT_FORMATS_LIBRARY
#error "the formats library reads bytes; it does not see the platform layer or the driver"
#endif

#include <cstdio>
#include <span>
#include <string_view>

#include "args.h"

namespace pelt {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitReported = 2;

// Runs the whole command line (the arguments after the program name).
int Main(std::span<const std::string_view> args, std::FILE* out, std::FILE* err);

// Extracts (or, with options.list, lists) the textures `options.model` refers to.
int Run(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace pelt
