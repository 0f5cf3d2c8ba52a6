#include "app/data_folder.h"

#include "app/data_password.h"
#include "fixed_texts.h"
#include "platform/program_folder.h"

#include <cstring>
#include <string>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

// A folder holds the show when it has the archive or the mesh: an unrelated
// "data" folder (a home folder often has one) must not hide the installed data.
bool holdsData(const fs::path& folder) {
  std::error_code error;
  return fs::is_regular_file(folder / kDataArchiveName, error) ||
         fs::is_regular_file(folder / kMeshPath, error);
}

} // namespace

fs::path findDataFolder(const fs::path& current, const fs::path& programFolder) {
  if (holdsData(current) || programFolder.empty())
    return current;
  for (const fs::path& folder : {programFolder, programFolder / ".." / "share" / "games" / "viriz"})
    if (holdsData(folder))
      return folder.lexically_normal();
  return current;
}

void enterDataFolder() {
  std::error_code error;
  const fs::path current = fs::current_path(error);
  if (error)
    return;
  const fs::path folder = findDataFolder(current, programFolder());
  if (folder != current)
    fs::current_path(folder, error);
}

DataFile* openDataFile(const char* name) {
  if (name == nullptr || strnlen(name, kMaxDataFileName + 1) > kMaxDataFileName)
    return nullptr;
  ExtractedEntry entry = extractArchiveEntry(name, kDataArchiveName, kDataArchivePassword);
  if (entry.ok())
    return newDataFile(std::move(entry.data), entry.size);
  return loadDataFile((std::string(kDataFolderPrefix) + name).c_str());
}
