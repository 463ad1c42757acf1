// What a run does, decided before anything is written: for every archive entry that supplies a
// wanted texture, what is done with it (its step), the output name, and what will be written or
// why it is refused; and for every wanted texture, the archive it comes from, if any. --list
// prints the plan; the run carries it out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "byte_source.h"
#include "dds.h"
#include "mix_reader.h"
#include "model_scan.h"
#include "names.h"
#include "status.h"
#include "tga_reader.h"

namespace pelt {

// An archive of the run: its path as given, its bytes (an open file that outlives the plan) and
// its directory.
struct Archive {
  std::string path;
  const ByteSource* bytes = nullptr;
  MixDirectory dir;
};

// What a write does with its entry: a TGA entry is copied as stored, or with --png converted; a
// DDS entry is converted to TGA, or with --png to PNG, or with --raw copied as stored; any other
// entry (only -x writes one) is copied as stored.
enum class Step : std::uint8_t { kCopyTga, kTgaToPng, kDdsToTga, kDdsToPng, kCopyDds, kCopyOther };

// One write the run makes, or refuses to make, for one entry. The plan decides its step and its
// file name; the run and --list only read them.
struct PlannedWrite {
  std::size_t archive = 0;  // index into the run's archives
  std::size_t entry = 0;    // index into that archive's directory
  Step step = Step::kCopyTga;
  std::string name;        // the output file name, lower-cased
  Status refusal;          // not ok: why nothing is written (Invalid: the name is not plain)
  EntryPlace place;        // where the entry lies in the archive
  DdsSurface surface;      // kDdsToTga, kDdsToPng: the checked surface
  TgaImage tga;            // kTgaToPng: the checked image
  std::uint64_t size = 0;  // bytes the file will hold
};

// A wanted texture: its first spelling, the first archive that has an entry for it, and the
// write that leaves its file on disk (the last one not refused, else the last refused one).
struct PlannedTexture {
  std::string name;
  std::optional<std::size_t> archive;  // none: no archive supplies it
  std::size_t outcome = 0;             // index into Plan::writes, when `archive` is set
};

struct Plan {
  std::vector<PlannedWrite> writes;      // in run order: archives in search order, entries in
                                         // index order
  std::vector<PlannedTexture> textures;  // in the order the models name them, once per name
  std::uint64_t write_bytes = 0;         // the sizes of every write not refused, added up
  std::vector<std::size_t> supplying;    // the archives that supply a texture, in search order
  std::uint64_t archive_bytes = 0;       // their sizes, added up
};

struct PlanOptions {
  // A DDS entry is copied under its own lower-cased name instead of converted, and only its place
  // is checked.
  bool raw = false;
  // Images are PNG files, named with "png" where a TGA file's name ends in "tga": a TGA entry is
  // converted, checked whole first, and a DDS entry is converted to PNG. A PNG file's size is
  // counted as the most it can hold.
  bool png = false;
};

// Decides the run over `archives` (in search order) for the texture names `wanted` (all models'
// names in order, repeats and any case allowed). Reads only the DDS entries' headers, and with
// --png every TGA entry a texture comes from.
Plan MakePlan(std::span<const Archive> archives, std::span<const std::string> wanted,
              const PlanOptions& options = {});

// Decides the run of -x over `archives` (in search order): every entry whose name matches one of
// `patterns` (names.h) is written as a model naming the texture it supplies would have it
// written, and any other entry than a DDS or TGA entry is copied as stored under its
// lower-cased name. Each texture is one of Plan::textures, in archive and index order. Each file
// is written once: of the writes of one name only the last not refused stays, the file a run of
// them all would leave.
Plan MakeExtractPlan(std::span<const Archive> archives, std::span<const std::string> patterns,
                     const PlanOptions& options = {});

// An entry of one of the run's archives.
struct EntryRef {
  std::size_t archive = 0;  // index into the run's archives
  std::size_t entry = 0;    // index into that archive's directory
};

// The entry a model named `name` is read from when no file has that name: in the first archive
// (in search order) with an entry whose name matches it as texture names match, the last such
// entry, as a later entry wins in a run.
std::optional<EntryRef> FindEntry(std::span<const Archive> archives, std::string_view name);

// The entries whose names match `pattern` (names.h), as models: every archive in search order,
// each in index order, each distinct name (ignoring case) once, as FindEntry finds it.
std::vector<EntryRef> MatchEntries(std::span<const Archive> archives, std::string_view pattern);

// The texture names of the model in entry `entry` of `archive`.
Result<ModelTextures> ScanModelEntry(const Archive& archive, std::size_t entry);

// What entry `entry` of `archive` is, as -t shows it (see Describe); a model is "kzm model, N
// textures" (distinct names, ignoring case), or "unusable: REASON" when it cannot be scanned.
std::string DescribeEntry(const Archive& archive, std::size_t entry);

// What the entry of a write is, as --list shows it (see Describe).
std::string DescribeWrite(const PlannedWrite& w);

// The one description of an entry, for -t and --list: "unusable: REASON" when `refusal` is not
// ok; for a DDS entry "dds FORMAT WxH" from its checked `surface`, or "dds N bytes" when it is
// kept as stored (no surface); "tga N bytes" for a TGA entry, "N bytes" for any other.
std::string Describe(EntryKind kind, const Status& refusal, std::uint64_t size,
                     const DdsSurface* surface);

}  // namespace pelt
