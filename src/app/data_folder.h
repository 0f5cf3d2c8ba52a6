#pragma once

#include <filesystem>

// The show opens its data by relative paths ("data.dat", "data/..."), so at
// start the program changes to the folder that holds them: the current folder
// when it has data.dat or data/viriz.mesh, else the program's own folder, else
// ../share/games/viriz beside it (where the package installs the data).
// Returns the folder chosen, or the current one when none has the data (the
// show then reports what it misses as usual).
std::filesystem::path findDataFolder(const std::filesystem::path& current,
                                     const std::filesystem::path& programFolder);

// Changes to findDataFolder's choice for this process.
void enterDataFolder();
