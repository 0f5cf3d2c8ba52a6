// Whole extractions from arbitrary archive bytes: the listing, then every
// listed entry (and one fixed name) without and with a password.
#include "archive/archive_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string& archivePath() {
  static const std::string path = "/tmp/fuzz_archive_extract-" + std::to_string(getpid()) + ".rar";
  return path;
}

void extract(const char* name, const char* password) {
  uint8_t* data = nullptr;
  int32_t size = 0;
  if (extractArchiveEntry(&data, &size, name, archivePath().c_str(), password) == 1) {
    // Touch every byte so that sanitizers see them.
    volatile uint8_t sum = 0;
    for (int32_t i = 0; i < size; ++i)
      sum = uint8_t(sum + data[i]);
  } else if (data != nullptr || size != 0) {
    abort();
  }
  free(data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FILE* file = fopen(archivePath().c_str(), "wb");
  if (file == nullptr)
    return 0;
  fwrite(bytes, 1, size, file);
  fclose(file);

  std::vector<ArchiveEntryInfo> entries;
  listArchiveEntries(archivePath().c_str(), entries);
  constexpr size_t kMaxEntries = 4;
  for (size_t i = 0; i < entries.size() && i < kMaxEntries; ++i) {
    extract(entries[i].name.c_str(), nullptr);
    extract(entries[i].name.c_str(), "password");
  }
  extract("kelvo.ogg", "kvernsteik");
  unlink(archivePath().c_str());
  return 0;
}
