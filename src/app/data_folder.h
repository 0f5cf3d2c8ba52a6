#pragma once

#include "archive/data_file.h"

#include <cstddef>
#include <filesystem>

// The data set: the archive "data.dat" and the folder "data" beside it, found
// by relative paths from the folder that holds them.

// The show opens its data by relative paths, so at start the program changes
// to the folder that holds them: the current folder when it has data.dat or
// data/viriz.mesh, else the program's own folder, else ../share/games/viriz
// beside it (where the package installs the data). Returns the folder chosen,
// or the current one when none has the data (the show then reports what it
// misses as usual).
std::filesystem::path findDataFolder(const std::filesystem::path& current,
                                     const std::filesystem::path& programFolder);

// Changes to findDataFolder's choice for this process.
void enterDataFolder();

// The longest name openDataFile takes: "data/" and the name fit 256 bytes.
inline constexpr size_t kMaxDataFileName = 250;

// Opens `name` (relative to the data set, at most kMaxDataFileName characters)
// as an entry of the archive, deciphered with the data set's password, and
// when the archive cannot deliver it for any reason, from "data/<name>". Null
// when neither has it.
DataFile* openDataFile(const char* name);
