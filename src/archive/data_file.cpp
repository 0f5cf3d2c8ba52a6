#include "archive/data_file.h"

#include "archive/archive_reader.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

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

void closeDataFile(DataFile* file) {
  if (file == nullptr)
    return;
  free(file->data);
  file->data = nullptr;
  file->size = 0;
  file->position = 0;
  free(file);
}
