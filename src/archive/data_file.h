#pragma once

#include "archive/archive_reader.h"

#include <cstdint>

// A file of the demo's data set loaded whole into memory, with a read position,
// so that a decoder can stream it (the music decoder through the callbacks of
// audio/player/data_file_callbacks.h). The record and its buffer come from malloc and
// are released by closeDataFile. Where a file is looked for is the program's
// business (app/data_folder.h).
struct DataFile {
  int32_t size;     // bytes in data
  uint8_t* data;    // the whole file
  int32_t position; // offset of the next byte to read
};

// A new record at position 0 that takes over `size` bytes from malloc, such as
// an extracted archive entry's; null (the bytes released) when there is no
// memory for the record.
DataFile* newDataFile(MallocBytes data, int32_t size);

// Reads the file at `path` whole into a new record; null when it is not a
// regular file (archive/regular_file.h) or cannot be read completely.
DataFile* loadDataFile(const char* path);

// Releases the buffer and the record; nothing for a null file.
void closeDataFile(DataFile* file);
