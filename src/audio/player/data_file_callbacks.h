#pragma once

#include <cstddef>
#include <ogg/os_types.h>

// The read, seek, close and tell callbacks (in the order ov_open_callbacks
// takes them) that stream a DataFile (archive/data_file.h) to the music
// decoder. `file` is the DataFile; once the decoder is open it owns the file
// and releases it through dataFileClose.

// Copies whole items of `itemSize` bytes from the current position; returns the
// number of items copied (0 at a position outside the data).
size_t dataFileRead(void* destination, size_t itemSize, size_t itemCount, void* file);

// Moves the position (whence 0: from the start, 1: from the current position,
// 2: from the end). Positions are not checked against the data; always returns
// 0, so the decoder takes the stream as seekable.
int dataFileSeek(void* file, ogg_int64_t offset, int whence);

// Releases the buffer and the record; returns 0.
int dataFileClose(void* file);

// The current position (0 for a null file).
long dataFileTell(void* file);
