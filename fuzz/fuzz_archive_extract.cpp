// Whole extractions from arbitrary archive bytes: the listing, then every
// listed entry (and one fixed name) without and with a password.
#include "app/data_password.h"
#include "archive/archive_reader.h"
#include "fixed_texts.h"
#include "scratch_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void extract(const std::string& archive, const char* name, const char* password) {
  const ExtractedEntry entry = extractArchiveEntry(name, archive.c_str(), password);
  if (entry.ok()) {
    // Touch every byte so that sanitizers see them.
    volatile uint8_t sum = 0;
    for (int32_t i = 0; i < entry.size; ++i)
      sum = uint8_t(sum + entry.data[i]);
  } else if (entry.data != nullptr || entry.size != 0) {
    abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static ScratchFile scratch;
  const std::string& archive = scratch.hold(bytes, size);

  std::vector<ArchiveEntryInfo> entries;
  listArchiveEntries(archive.c_str(), entries);
  constexpr size_t kMaxEntries = 4;
  for (size_t i = 0; i < entries.size() && i < kMaxEntries; ++i) {
    extract(archive, entries[i].name.c_str(), nullptr);
    extract(archive, entries[i].name.c_str(), "password");
  }
  extract(archive, kMusicName, kDataArchivePassword);
  return 0;
}
