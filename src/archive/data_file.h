#pragma once

#include <cstddef>
#include <cstdint>

// A file of the demo's data set loaded whole into memory, with a read position,
// so that a decoder can stream it (the music decoder through the callbacks of
// audio/data_file_callbacks.h). The record and its buffer come from malloc and
// are released by closeDataFile.
struct DataFile {
  int32_t size;     // bytes in data
  uint8_t* data;    // the whole file
  int32_t position; // offset of the next byte to read
};

// The archive searched first, its password, and the directory searched after it.
inline constexpr const char* kDataArchiveName = "data.dat";
inline constexpr const char* kDataArchivePassword = "kvernsteik";
inline constexpr size_t kMaxDataFileName = 250;

// Opens `name` (relative to the data set, at most kMaxDataFileName characters)
// from the archive "data.dat", else from "data/<name>". Null when neither has it.
DataFile* openDataFile(const char* name);

// Releases the buffer and the record; nothing for a null file.
void closeDataFile(DataFile* file);
