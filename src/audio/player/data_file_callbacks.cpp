#include "audio/player/data_file_callbacks.h"

#include "archive/data_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

DataFile* asDataFile(void* file) {
  return static_cast<DataFile*>(file);
}

} // namespace

size_t dataFileRead(void* destination, size_t itemSize, size_t itemCount, void* file) {
  DataFile* f = asDataFile(file);
  if (f == nullptr || destination == nullptr)
    return 0;
  // Only whole items, and none from a position outside the data.
  if (f->position < 0 || f->position > f->size)
    return 0;
  const size_t left = size_t(f->size - f->position);
  size_t items = itemCount;
  if (itemSize > 0)
    items = itemCount < left / itemSize ? itemCount : left / itemSize;
  const size_t bytes = items * itemSize;
  memcpy(destination, f->data + f->position, bytes);
  f->position += int32_t(bytes);
  return items;
}

int dataFileSeek(void* file, ogg_int64_t offset, int whence) {
  DataFile* f = asDataFile(file);
  if (f == nullptr)
    return 0;
  // Only the low 32 bits of the offset count; positions wrap instead of overflowing.
  const uint32_t low = uint32_t(uint64_t(offset));
  switch (whence) {
  case SEEK_SET:
    f->position = int32_t(low);
    break;
  case SEEK_CUR:
    f->position = int32_t(uint32_t(f->position) + low);
    break;
  case SEEK_END:
    f->position = int32_t(uint32_t(f->size) + low);
    break;
  default:
    break;
  }
  return 0;
}

int dataFileClose(void* file) {
  closeDataFile(asDataFile(file));
  return 0;
}

long dataFileTell(void* file) {
  const DataFile* f = asDataFile(file);
  return f == nullptr ? 0 : f->position;
}
