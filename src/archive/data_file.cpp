#include "archive/data_file.h"

#include "archive/regular_file.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <utility>

DataFile* newDataFile(MallocBytes data, int32_t size) {
  if (data == nullptr)
    return nullptr;
  DataFile* file = static_cast<DataFile*>(calloc(1, sizeof(DataFile)));
  if (file == nullptr)
    return nullptr;
  file->data = data.release();
  file->size = size;
  file->position = 0;
  return file;
}

DataFile* loadDataFile(const char* path) {
  FILE* stream = openRegularFile(path);
  if (stream == nullptr)
    return nullptr;
  long length = -1;
  if (fseek(stream, 0, SEEK_END) == 0)
    length = ftell(stream);
  // A file over 2 GiB does not fit the record.
  if (length < 0 || length > INT32_MAX || fseek(stream, 0, SEEK_SET) != 0) {
    fclose(stream);
    return nullptr;
  }
  MallocBytes data(static_cast<uint8_t*>(malloc(length > 0 ? size_t(length) : 1)));
  const bool complete =
      data != nullptr && fread(data.get(), 1, size_t(length), stream) == size_t(length);
  fclose(stream);
  if (!complete)
    return nullptr;
  return newDataFile(std::move(data), int32_t(length));
}

void closeDataFile(DataFile* file) {
  if (file == nullptr)
    return;
  free(file->data);
  file->data = nullptr;
  file->size = 0;
  file->position = 0;
  free(file);
}
