#pragma once

#include <cstdio>

// Opens `path` for reading in binary mode when it is a regular file; null when
// it does not open or is anything else. The data set's files are read whole
// and sized up front, so a FIFO, a device or a folder in a file's place is
// refused at once: opening a FIFO for reading would wait for a writer for
// ever, and a device has no end to read to.
FILE* openRegularFile(const char* path);
