#include "plan.h"

#include <algorithm>
#include <array>
#include <limits>
#include <unordered_map>

#include "names.h"
#include "tga.h"

namespace pelt {

namespace {

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

// Checks a step's output name and its entry, and works out what the file will hold.
void Check(const Archive& archive, PlannedWrite* w) {
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
  if (w->step == Step::kTga) {
    w->size = size;
    return;
  }
  // The DDS step reads the entry's first bytes and checks them before anything is created.
  std::array<std::uint8_t, kDdsHeaderSize> head{};
  const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kDdsHeaderSize, size));
  auto got = std::span(head).first(n);
  if (w->refusal = archive.bytes->ReadAt(place->offset, got); !w->refusal.ok()) return;
  auto surface = CheckDdsEntry(got, size);
  if (!surface.ok()) {
    w->refusal = surface.status();
    return;
  }
  w->surface = *surface;
  w->size = kTgaHeaderSize + std::uint64_t{4} * surface->width * surface->height;
}

}  // namespace

Plan MakePlan(std::span<const Archive> archives, std::span<const std::string> wanted) {
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
        w.step = step;
        w.name = **name;
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

}  // namespace pelt
