#include "plan.h"

#include <algorithm>
#include <array>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "png_writer.h"
#include "tga.h"

namespace pelt {

namespace {

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

// The surface of the DDS entry at `place`, from its first bytes.
Result<DdsSurface> ReadDdsSurface(const Archive& archive, const EntryPlace& place) {
  std::array<std::uint8_t, kDdsHeaderSize> head{};
  const auto got = std::span(head).first(std::min<std::uint64_t>(kDdsHeaderSize, place.size));
  if (Status s = archive.bytes->ReadAt(place.offset, got); !s.ok()) return s;
  return CheckDdsEntry(got, place.size);
}

// What a write does with an entry of `kind`.
Step StepFor(EntryKind kind, const PlanOptions& options) {
  switch (kind) {
    case EntryKind::kDds:
      if (options.raw) return Step::kCopyDds;
      return options.png ? Step::kDdsToPng : Step::kDdsToTga;
    case EntryKind::kTga:
      return options.png ? Step::kTgaToPng : Step::kCopyTga;
    case EntryKind::kModel:
    case EntryKind::kOther:
      return Step::kCopyOther;
  }
  return Step::kCopyOther;
}

// The file a write makes of the entry `entry_name`, lower-cased: a copy keeps the entry's name; a
// DDS entry converted takes its name with the last three characters made "tga" whatever they are
// (rock.dds.old gives rock.dds.tga), so that a model naming grass.tga finds the entry grass.dds;
// a PNG file takes "png" where the TGA file's name ends in "tga".
std::string OutputName(std::string_view entry_name, Step step) {
  std::string name = FoldedName(entry_name);
  const bool dds = step == Step::kDdsToTga || step == Step::kDdsToPng;
  const bool png = step == Step::kTgaToPng || step == Step::kDdsToPng;
  if (dds) name.replace(name.size() - 3, 3, "tga");
  if (png && name.ends_with("tga")) name.replace(name.size() - 3, 3, "png");
  return name;
}

// The texture an entry supplies: for an image, the name its TGA file would have; with -x any
// other entry supplies its own name.
std::string SuppliedName(std::string_view entry_name, EntryKind kind) {
  return OutputName(entry_name, kind == EntryKind::kDds ? Step::kDdsToTga : Step::kCopyTga);
}

// Checks a write's output name and its entry, and works out what the file will hold.
void Check(const Archive& archive, PlannedWrite* w) {
  if (const char* why = WhyNotPlainFileName(w->name)) {
    w->refusal = Status::Invalid(why);
    return;
  }
  const auto place = PlaceOf(archive.dir, w->entry);
  if (!place.ok()) {
    w->refusal = place.status();
    return;
  }
  w->place = *place;
  switch (w->step) {
    case Step::kCopyTga:
    case Step::kCopyDds:
    case Step::kCopyOther:
      w->size = place->size;
      return;
    case Step::kTgaToPng: {
      const auto image = CheckTgaEntry(*archive.bytes, place->offset, place->size);
      if (!image.ok()) {
        w->refusal = image.status();
        return;
      }
      w->tga = *image;
      w->size = PngSizeBound(image->width, image->height, image->channels);
      return;
    }
    case Step::kDdsToTga:
    case Step::kDdsToPng: {
      // A DDS entry's first bytes are checked before anything is created.
      const auto surface = ReadDdsSurface(archive, *place);
      if (!surface.ok()) {
        w->refusal = surface.status();
        return;
      }
      w->surface = *surface;
      const auto width = static_cast<std::uint16_t>(surface->width);
      const auto height = static_cast<std::uint16_t>(surface->height);
      w->size = w->step == Step::kDdsToPng ? PngSizeBound(width, height, 4)
                                           : kTgaHeaderSize + std::uint64_t{4} * width * height;
      return;
    }
  }
}

// The plan for the texture names `wanted`, from the entries `Selected` (archive, entry) accepts.
template <typename Selected>
Plan PlanFor(std::span<const Archive> archives, std::span<const std::string> wanted,
             const PlanOptions& options, Selected selected) {
  Plan plan;
  std::unordered_map<std::string, std::size_t> texture_of;  // folded name -> plan.textures
  for (const std::string& name : wanted) {
    if (texture_of.emplace(FoldedName(name), plan.textures.size()).second)
      plan.textures.push_back({name, std::nullopt, 0});
  }
  std::vector<std::optional<std::size_t>> good(plan.textures.size());
  for (std::size_t a = 0; a < archives.size(); ++a) {
    const MixDirectory& dir = archives[a].dir;
    bool supplies = false;
    for (std::size_t i = 0; i < dir.filenames.size(); ++i) {
      const EntryKind kind = KindOf(dir.filenames[i]);
      if (!selected(a, i, kind)) continue;
      const auto it = texture_of.find(SuppliedName(dir.filenames[i], kind));
      if (it == texture_of.end()) continue;
      // A texture comes from the first archive that has an entry for it.
      std::optional<std::size_t>& from = plan.textures[it->second].archive;
      if (!from) from = a;
      if (*from != a) continue;
      supplies = true;
      PlannedWrite& w = plan.writes.emplace_back();
      w.archive = a;
      w.entry = i;
      w.step = StepFor(kind, options);
      w.name = OutputName(dir.filenames[i], w.step);
      Check(archives[a], &w);
      // A later write of the same name replaces an earlier one; a refused one replaces nothing.
      const std::size_t index = plan.writes.size() - 1;
      if (w.refusal.ok()) {
        plan.write_bytes = SaturatingAdd(plan.write_bytes, w.size);
        good[it->second] = index;
      } else if (!good[it->second]) {
        plan.textures[it->second].outcome = index;
      }
    }
    if (supplies) {
      plan.supplying.push_back(a);
      plan.archive_bytes += dir.archive_size;
    }
  }
  for (std::size_t t = 0; t < plan.textures.size(); ++t)
    if (good[t]) plan.textures[t].outcome = *good[t];
  return plan;
}

// Drops every write that a later write of the same name would replace, so that each file is
// written once, as the one a run of every write would leave on disk. Refused writes stay.
void WriteEachNameOnce(Plan* plan) {
  std::unordered_map<std::string, std::size_t> last;  // output name -> its last write not refused
  for (std::size_t j = 0; j < plan->writes.size(); ++j)
    if (plan->writes[j].refusal.ok()) last[plan->writes[j].name] = j;
  std::vector<std::size_t> index_of(plan->writes.size());  // old index -> new
  std::vector<PlannedWrite> kept;
  plan->write_bytes = 0;
  for (std::size_t j = 0; j < plan->writes.size(); ++j) {
    PlannedWrite& w = plan->writes[j];
    if (w.refusal.ok() && last[w.name] != j) continue;
    if (w.refusal.ok()) plan->write_bytes = SaturatingAdd(plan->write_bytes, w.size);
    index_of[j] = kept.size();
    kept.push_back(std::move(w));
  }
  plan->writes = std::move(kept);
  // A texture's outcome is its last write not refused, which is the last of its name, or a
  // refused one: both stay.
  for (PlannedTexture& t : plan->textures)
    if (t.archive) t.outcome = index_of[t.outcome];
}

}  // namespace

Plan MakePlan(std::span<const Archive> archives, std::span<const std::string> wanted,
              const PlanOptions& options) {
  return PlanFor(archives, wanted, options, [](std::size_t, std::size_t, EntryKind kind) {
    return kind == EntryKind::kDds || kind == EntryKind::kTga;
  });
}

Plan MakeExtractPlan(std::span<const Archive> archives, std::span<const std::string> patterns,
                     const PlanOptions& options) {
  // Which entries match, and the names they supply, in the order a model naming them would.
  std::vector<std::vector<bool>> matched(archives.size());
  std::vector<std::string> wanted;
  for (std::size_t a = 0; a < archives.size(); ++a) {
    const std::vector<std::string>& names = archives[a].dir.filenames;
    matched[a].resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      matched[a][i] = std::any_of(patterns.begin(), patterns.end(), [&](const std::string& p) {
        return MatchesPattern(p, names[i]);
      });
      if (matched[a][i]) wanted.push_back(SuppliedName(names[i], KindOf(names[i])));
    }
  }
  Plan plan = PlanFor(archives, wanted, options,
                      [&](std::size_t a, std::size_t i, EntryKind) { return matched[a][i]; });
  WriteEachNameOnce(&plan);
  return plan;
}

std::optional<EntryRef> FindEntry(std::span<const Archive> archives, std::string_view name) {
  const std::string key = FoldedName(name);
  for (std::size_t a = 0; a < archives.size(); ++a) {
    const std::vector<std::string>& names = archives[a].dir.filenames;
    for (std::size_t i = names.size(); i-- > 0;)
      if (FoldedName(names[i]) == key) return EntryRef{a, i};
  }
  return std::nullopt;
}

std::vector<EntryRef> MatchEntries(std::span<const Archive> archives, std::string_view pattern) {
  // One pass: each matching name's first archive, and its last entry there (as FindEntry picks),
  // without searching the archives again for every name.
  std::vector<EntryRef> found;
  std::unordered_map<std::string, std::size_t> index_of;  // folded name -> found
  for (std::size_t a = 0; a < archives.size(); ++a) {
    const std::vector<std::string>& names = archives[a].dir.filenames;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (!MatchesPattern(pattern, names[i])) continue;
      const auto [it, fresh] = index_of.emplace(FoldedName(names[i]), found.size());
      if (fresh) {
        found.push_back({a, i});
      } else if (found[it->second].archive == a) {
        found[it->second].entry = i;
      }
    }
  }
  return found;
}

Result<ModelTextures> ScanModelEntry(const Archive& archive, std::size_t entry) {
  const auto place = PlaceOf(archive.dir, entry);
  if (!place.ok()) return place.status();
  return ScanTextureNames(SliceSource(*archive.bytes, place->offset, place->size));
}

std::string Describe(EntryKind kind, const Status& refusal, std::uint64_t size,
                     const DdsSurface* surface) {
  if (!refusal.ok()) return "unusable: " + refusal.message();
  const std::string bytes = std::to_string(size) + " bytes";
  switch (kind) {
    case EntryKind::kDds:
      if (surface == nullptr) return "dds " + bytes;
      return "dds " + surface->name + " " + std::to_string(surface->width) + "x" +
             std::to_string(surface->height);
    case EntryKind::kTga:
      return "tga " + bytes;
    case EntryKind::kModel:
    case EntryKind::kOther:
      break;
  }
  return bytes;
}

std::string DescribeEntry(const Archive& archive, std::size_t entry) {
  const EntryKind kind = KindOf(archive.dir.filenames[entry]);
  const auto place = PlaceOf(archive.dir, entry);
  if (!place.ok()) return Describe(kind, place.status(), 0, nullptr);
  switch (kind) {
    case EntryKind::kDds: {
      const auto s = ReadDdsSurface(archive, *place);
      return Describe(kind, s.status(), place->size, s.ok() ? &*s : nullptr);
    }
    case EntryKind::kModel: {
      const auto model = ScanModelEntry(archive, entry);
      if (!model.ok()) return Describe(kind, model.status(), 0, nullptr);
      std::unordered_set<std::string> textures;
      for (const std::string& t : model->texturenames) textures.insert(FoldedName(t));
      return "kzm model, " + std::to_string(textures.size()) +
             (textures.size() == 1 ? " texture" : " textures");
    }
    case EntryKind::kTga:
    case EntryKind::kOther:
      break;
  }
  return Describe(kind, Status::Ok(), place->size, nullptr);
}

std::string DescribeWrite(const PlannedWrite& w) {
  switch (w.step) {
    case Step::kCopyTga:
    case Step::kTgaToPng:
      return Describe(EntryKind::kTga, w.refusal, w.place.size, nullptr);
    case Step::kCopyDds:
      return Describe(EntryKind::kDds, w.refusal, w.place.size, nullptr);
    case Step::kCopyOther:
      return Describe(EntryKind::kOther, w.refusal, w.place.size, nullptr);
    case Step::kDdsToTga:
    case Step::kDdsToPng:
      break;
  }
  return Describe(EntryKind::kDds, w.refusal, w.place.size, &w.surface);
}

}  // namespace pelt
