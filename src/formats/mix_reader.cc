#include "mix_reader.h"

#include <array>
#include <cstring>

#include "byte_reader.h"

namespace pelt {

namespace {

constexpr std::uint32_t kMixHeaderSize = 16;
constexpr std::uint32_t kMixIndexEntrySize = 12;

std::string Num(std::uint64_t v) { return std::to_string(v); }

// Checks that a table at `offset` (from the header) starts inside the file with room for its
// 4-byte count, and reads that count.
Status ReadTableCount(const ByteSource& archive, const char* what, std::int32_t offset,
                      std::int32_t* count) {
  const std::uint64_t size = archive.size();
  if (offset < 0 || !Fits(static_cast<std::uint64_t>(offset), 4, size)) {
    return Status::Corrupt(std::string(what) + " offset " + std::to_string(offset) +
                           " lies outside the file (" + Num(size) + " bytes)");
  }
  std::array<std::uint8_t, 4> b;
  if (Status s = archive.ReadAt(static_cast<std::uint64_t>(offset), b); !s.ok()) return s;
  *count = static_cast<std::int32_t>(LoadU32(b.data()));
  if (*count < 0)
    return Status::Corrupt(std::string(what) + " count " + std::to_string(*count) + " is negative");
  return Status::Ok();
}

// The bytes of the file after a table's count.
std::uint64_t BytesAfterCount(const ByteSource& archive, std::int32_t offset) {
  return archive.size() - static_cast<std::uint64_t>(offset) - 4;
}

Result<MixDirectory> ParseDirectory(const ByteSource& archive) {
  MixDirectory dir;
  dir.archive_size = archive.size();
  if (archive.size() < kMixHeaderSize)
    return Status::Corrupt("header shorter than 16 bytes (file is " + Num(archive.size()) +
                           " bytes)");
  std::array<std::uint8_t, kMixHeaderSize> hb;
  if (Status s = archive.ReadAt(0, hb); !s.ok()) return s;
  MixHeader h;
  h.index_offset = static_cast<std::int32_t>(LoadU32(&hb[4]));
  h.tailer_offset = static_cast<std::int32_t>(LoadU32(&hb[8]));

  // The index: a count, then 12 bytes per record, all inside the file.
  std::int32_t index_count = 0;
  if (Status s = ReadTableCount(archive, "index", h.index_offset, &index_count); !s.ok()) return s;
  const std::uint64_t index_room = BytesAfterCount(archive, h.index_offset);
  if (static_cast<std::uint64_t>(index_count) > index_room / kMixIndexEntrySize)
    return Status::Corrupt("index count " + std::to_string(index_count) + " needs " +
                           Num(std::uint64_t{kMixIndexEntrySize} * index_count) +
                           " bytes, but only " + Num(index_room) + " follow the index offset");

  // The name table: a count, then per name a length byte and that many bytes. Every name takes
  // at least 2 bytes, which bounds the count before anything is allocated for it.
  std::int32_t name_count = 0;
  if (Status s = ReadTableCount(archive, "name table", h.tailer_offset, &name_count); !s.ok())
    return s;
  if (name_count > index_count)
    return Status::Corrupt("name count " + std::to_string(name_count) +
                           " is larger than the index count " + std::to_string(index_count));
  const std::uint64_t names_room = BytesAfterCount(archive, h.tailer_offset);
  if (static_cast<std::uint64_t>(name_count) > names_room / 2)
    return Status::Corrupt("name count " + std::to_string(name_count) + " is too large for the " +
                           Num(names_room) + " bytes that follow the name table offset");

  dir.records.reserve(static_cast<std::size_t>(index_count));
  SourceCursor index(archive, static_cast<std::uint64_t>(h.index_offset) + 4);
  for (std::int32_t i = 0; i < index_count; ++i) {
    std::array<std::uint8_t, kMixIndexEntrySize> rb;
    if (Status s = index.Read(rb); !s.ok()) return s;
    dir.records.push_back(
        {static_cast<std::int32_t>(LoadU32(&rb[4])), static_cast<std::int32_t>(LoadU32(&rb[8]))});
  }

  dir.filenames.reserve(static_cast<std::size_t>(name_count));
  SourceCursor names(archive, static_cast<std::uint64_t>(h.tailer_offset) + 4);
  std::array<std::uint8_t, 255> stored;
  for (std::int32_t i = 0; i < name_count; ++i) {
    std::uint8_t len = 0;
    if (!names.Read(std::span(&len, 1)).ok() || !names.Read(std::span(stored).first(len)).ok())
      return Status::Corrupt("name table is cut short by the end of the file at name " +
                             std::to_string(i));
    if (len == 0) return Status::Corrupt("name " + std::to_string(i) + " has length 0");
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(stored.data(), 0, len));
    if (nul == nullptr)
      return Status::Corrupt("name " + std::to_string(i) + " holds no NUL in its " +
                             std::to_string(len) + " bytes");
    dir.filenames.emplace_back(reinterpret_cast<const char*>(stored.data()),
                               static_cast<std::size_t>(nul - stored.data()));
  }
  return dir;
}

}  // namespace

Result<MixDirectory> ParseMixDirectory(const ByteSource& archive) {
  auto dir = ParseDirectory(archive);
  if (dir.ok() || dir.status().code() != Code::kCorrupt) return dir;
  // A damaged directory in a file that does not begin with the identifier is most likely not an
  // archive at all, often the model given in its place; say so before the exact reason.
  std::array<std::uint8_t, 4> id{};
  if (archive.size() >= id.size() && archive.ReadAt(0, id).ok() && LoadU32(id.data()) == kMixId)
    return dir;
  return Status::Corrupt(
      "not a mix archive (no \"1XIM\" identifier; archive and model swapped?): " +
      dir.status().message());
}

Result<EntryPlace> PlaceOf(const MixDirectory& dir, std::size_t entry) {
  const MixRecord& e = dir.records[entry];
  if (e.offset < 0 || e.size < 0 ||
      !Fits(static_cast<std::uint64_t>(e.offset), static_cast<std::uint64_t>(e.size),
            dir.archive_size)) {
    return Status::Corrupt("entry lies outside the archive (offset " + std::to_string(e.offset) +
                           ", size " + std::to_string(e.size) + ", archive " +
                           std::to_string(dir.archive_size) + " bytes)");
  }
  return EntryPlace{static_cast<std::uint64_t>(e.offset), static_cast<std::uint64_t>(e.size)};
}

}  // namespace pelt
