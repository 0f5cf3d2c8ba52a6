#include "app/data_folder.h"

#include "archive/data_file.h"
#include "platform/program_folder.h"

#include <system_error>

namespace fs = std::filesystem;

namespace {

bool holdsData(const fs::path& folder) {
  std::error_code error;
  return fs::is_regular_file(folder / kDataArchiveName, error) ||
         fs::is_directory(folder / "data", error);
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
