#pragma once

#include <cstddef>
#include <cstdint>
#include <ogg/os_types.h>

// A file of the demo's data set loaded whole into memory, with a read position,
// so that a decoder can stream it through the four callbacks below (the
// read/seek/close/tell set that ov_open_callbacks takes). The record and its
// buffer come from malloc and are released by dataFileClose.
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

// Copies whole items of `itemSize` bytes from the current position; returns the
// number of items copied (0 at a position outside the data).
size_t dataFileRead(void* destination, size_t itemSize, size_t itemCount, void* file);

// Moves the position (whence 0: from the start, 1: from the current position,
// 2: from the end). Positions are not checked against the data; always returns 0.
int dataFileSeek(void* file, ogg_int64_t offset, int whence);

// Releases the buffer and the record; returns 0.
int dataFileClose(void* file);

// The current position (0 for a null file).
long dataFileTell(void* file);
