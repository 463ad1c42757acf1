// Fuzz target: an archive's directory, read from the input in memory. A directory that is read
// holds the archive's size and at most one name a record, none with a NUL; each named entry's
// place is refused as Corrupt or lies inside the archive. A refusal is Corrupt (memory reads
// never fail) and says why.
#include "mix_reader.h"
#include "testutil.h"

using namespace pelt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto dir = ParseMixDirectory(testing::MemorySource({data, size}));
  const Status& s = dir.status();
  PELT_FUZZ_CHECK(dir.ok() || (s.code() == Code::kCorrupt && !s.message().empty()));
  if (!dir.ok()) return 0;
  PELT_FUZZ_CHECK(dir->archive_size == size && dir->filenames.size() <= dir->records.size());
  for (std::size_t i = 0; i < dir->filenames.size(); ++i) {
    PELT_FUZZ_CHECK(dir->filenames[i].find('\0') == std::string::npos);
    const auto place = PlaceOf(*dir, i);
    PELT_FUZZ_CHECK(place.ok() ? place->offset + place->size <= size
                               : place.status().code() == Code::kCorrupt);
  }
  return 0;
}
