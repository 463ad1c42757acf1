#include "plan.h"

#include <algorithm>
#include <array>
#include <limits>
#include <unordered_map>

#include "names.h"
#include "platform.h"
#include "tga.h"

namespace pelt {

namespace {

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

// Checks a step's output name and its entry, and works out what the file will hold.
void Check(const MixArchive& mix, PlannedWrite* w) {
  if (!IsPlainFileName(w->name)) {
    w->refusal = Status::Invalid("not a plain file name");
    return;
  }
  if (w->refusal = CheckBounds(mix, w->entry); !w->refusal.ok()) return;
  const t_mix_kv_index_entry& e = mix.dir.indexhead[w->entry];
  const auto size = static_cast<std::uint64_t>(e.size);
  if (w->step == Step::kTga) {
    w->size = size;
    return;
  }
  // The DDS step reads the entry's first bytes and checks them before anything is created.
  std::array<std::uint8_t, kDdsHeaderSize> head{};
  const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kDdsHeaderSize, size));
  auto got = std::span(head).first(n);
  if (w->refusal = mix.file.ReadAt(static_cast<std::uint64_t>(e.offset), got); !w->refusal.ok())
    return;
  auto surface = CheckDdsEntry(got, size);
  if (!surface.ok()) {
    w->refusal = surface.status();
    return;
  }
  w->surface = *surface;
  w->size = kTgaHeaderSize + std::uint64_t{4} * surface->width * surface->height;
}

}  // namespace

Status CheckBounds(const MixArchive& mix, std::size_t entry) {
  const t_mix_kv_index_entry& e = mix.dir.indexhead[entry];
  const std::uint64_t archive_size = mix.dir.archive_size;
  if (e.offset < 0 || e.size < 0 || static_cast<std::uint64_t>(e.offset) > archive_size ||
      static_cast<std::uint64_t>(e.size) > archive_size - static_cast<std::uint64_t>(e.offset)) {
    return Status::Corrupt("entry lies outside the archive (offset " + std::to_string(e.offset) +
                           ", size " + std::to_string(e.size) + ", archive " +
                           std::to_string(archive_size) + " bytes)");
  }
  return Status::Ok();
}

Plan MakePlan(std::span<const Archive> archives, std::span<const std::string> wanted) {
  Plan plan;
  std::unordered_map<std::string, std::size_t> texture_of;  // folded name -> plan.textures
  for (const std::string& name : wanted) {
    std::string key = name;
    LowerAscii(&key);
    if (texture_of.emplace(std::move(key), plan.textures.size()).second)
      plan.textures.push_back({name, std::nullopt, 0});
  }
  std::vector<std::optional<std::size_t>> good(plan.textures.size());
  for (std::size_t a = 0; a < archives.size(); ++a) {
    const MixArchive& mix = archives[a].mix;
    bool supplies = false;
    for (std::size_t i = 0; i < mix.dir.filenames.size(); ++i) {
      const StepNames names = OutputNames(mix.dir.filenames[i]);
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
        Check(mix, &w);
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
      plan.archive_bytes += mix.dir.archive_size;
    }
  }
  for (std::size_t t = 0; t < plan.textures.size(); ++t)
    if (good[t]) plan.textures[t].outcome = *good[t];
  return plan;
}

}  // namespace pelt
