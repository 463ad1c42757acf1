#include "plan.h"

#include <algorithm>
#include <array>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "names.h"
#include "png.h"
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

// Checks a step's output name and its entry, and works out what the file will hold.
void Check(const Archive& archive, bool png, PlannedWrite* w) {
  if (!IsPlainFileName(w->name)) {
    w->refusal = Status::Invalid("not a plain file name");
    return;
  }
  const auto place = PlaceOf(archive.dir, w->entry);
  if (!place.ok()) {
    w->refusal = place.status();
    return;
  }
  w->place = *place;
  const std::uint64_t size = place->size;
  if (w->step == Step::kTga && png) {
    const auto image = CheckTgaEntry(*archive.bytes, place->offset, size);
    if (!image.ok()) {
      w->refusal = image.status();
      return;
    }
    w->tga = *image;
    w->size = PngSizeBound(image->width, image->height, Channels(image->colour));
    return;
  }
  if (w->step != Step::kDds) {
    w->size = size;
    return;
  }
  // The DDS step reads the entry's first bytes and checks them before anything is created.
  const auto surface = ReadDdsSurface(archive, *place);
  if (!surface.ok()) {
    w->refusal = surface.status();
    return;
  }
  w->surface = *surface;
  const auto width = static_cast<std::uint16_t>(surface->width);
  const auto height = static_cast<std::uint16_t>(surface->height);
  w->size =
      png ? PngSizeBound(width, height, 4) : kTgaHeaderSize + std::uint64_t{4} * width * height;
}

}  // namespace

Plan MakePlan(std::span<const Archive> archives, std::span<const std::string> wanted,
              const PlanOptions& options) {
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
      const StepNames names = OutputNames(dir.filenames[i]);
      for (auto [step, name] :
           {std::pair{Step::kTga, &names.tga}, std::pair{Step::kDds, &names.dds}}) {
        if (!*name) continue;
        const auto it = texture_of.find(**name);
        if (it == texture_of.end()) continue;
        // A texture comes from the first archive that has an entry for it.
        std::optional<std::size_t>& from = plan.textures[it->second].archive;
        if (!from) from = a;
        if (*from != a) continue;
        supplies = true;
        PlannedWrite& w = plan.writes.emplace_back();
        w.archive = a;
        w.entry = i;
        w.step = step == Step::kDds && options.raw ? Step::kRawDds : step;
        w.name = w.step == Step::kRawDds ? FoldedName(dir.filenames[i]) : **name;
        // A PNG file takes "png" where the TGA file's name ends in "tga".
        if (options.png && w.step != Step::kRawDds && w.name.ends_with("tga"))
          w.name.replace(w.name.size() - 3, 3, "png");
        Check(archives[a], options.png, &w);
        // A later write of the same name replaces an earlier one; a refused one replaces nothing.
        const std::size_t index = plan.writes.size() - 1;
        if (w.refusal.ok()) {
          plan.write_bytes = SaturatingAdd(plan.write_bytes, w.size);
          good[it->second] = index;
        } else if (!good[it->second]) {
          plan.textures[it->second].outcome = index;
        }
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

std::string DescribeEntry(const Archive& archive, std::size_t entry) {
  const std::string& name = archive.dir.filenames[entry];
  const auto place = PlaceOf(archive.dir, entry);
  if (!place.ok()) return "unusable: " + place.status().message();
  if (EndsWithFolded(name, ".dds")) {
    const auto s = ReadDdsSurface(archive, *place);
    if (!s.ok()) return "unusable: " + s.status().message();
    return std::string("dds ") + FormatName(s->format) + " " + std::to_string(s->width) + "x" +
           std::to_string(s->height);
  }
  const std::string bytes = std::to_string(place->size) + " bytes";
  if (EndsWithFolded(name, ".tga")) return "tga " + bytes;
  if (!EndsWithFolded(name, ".kzm")) return bytes;
  const auto model = ScanModelEntry(archive, entry);
  if (!model.ok()) return "unusable: " + model.status().message();
  std::unordered_set<std::string> textures;
  for (const std::string& t : model->texturenames) textures.insert(FoldedName(t));
  return "kzm model, " + std::to_string(textures.size()) +
         (textures.size() == 1 ? " texture" : " textures");
}

}  // namespace pelt
