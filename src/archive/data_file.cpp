#include "archive/data_file.h"

#include "archive/archive_reader.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

DataFile* asDataFile(void* file) {
  return static_cast<DataFile*>(file);
}

// Reads "data/<name>" whole; false when it cannot be opened or read completely.
bool loadFromDirectory(DataFile& file, const char* name) {
  char path[256];
  snprintf(path, sizeof path, "data/%s", name);
  FILE* stream = fopen(path, "rb");
  if (stream == nullptr)
    return false;
  long length = -1;
  if (fseek(stream, 0, SEEK_END) == 0)
    length = ftell(stream);
  // A directory, a device or a file over 2 GiB has no usable length.
  if (length < 0 || length > INT32_MAX || fseek(stream, 0, SEEK_SET) != 0) {
    fclose(stream);
    return false;
  }
  uint8_t* data = static_cast<uint8_t*>(malloc(length > 0 ? size_t(length) : 1));
  const bool complete = data != nullptr && fread(data, 1, size_t(length), stream) == size_t(length);
  fclose(stream);
  if (!complete) {
    free(data);
    return false;
  }
  file.data = data;
  file.size = int32_t(length);
  return true;
}

} // namespace

DataFile* openDataFile(const char* name) {
  if (name == nullptr || strnlen(name, kMaxDataFileName + 1) > kMaxDataFileName)
    return nullptr;
  DataFile* file = static_cast<DataFile*>(calloc(1, sizeof(DataFile)));
  if (file == nullptr)
    return nullptr;
  if (!extractArchiveEntry(&file->data, &file->size, name, kDataArchiveName,
                           kDataArchivePassword) &&
      !loadFromDirectory(*file, name)) {
    free(file);
    return nullptr;
  }
  file->position = 0;
  return file;
}

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
  DataFile* f = asDataFile(file);
  if (f == nullptr)
    return 0;
  free(f->data);
  f->data = nullptr;
  f->size = 0;
  f->position = 0;
  free(f);
  return 0;
}

long dataFileTell(void* file) {
  const DataFile* f = asDataFile(file);
  return f == nullptr ? 0 : f->position;
}
