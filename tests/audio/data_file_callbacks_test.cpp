// The callbacks that stream a data file to the music decoder.
#include "archive/data_file.h"
#include "audio/player/data_file_callbacks.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A data file as openDataFile makes one: record and buffer from malloc.
DataFile* makeFile(const std::string& text) {
  auto* file = static_cast<DataFile*>(calloc(1, sizeof(DataFile)));
  file->size = int32_t(text.size());
  file->data = static_cast<uint8_t*>(malloc(text.size() + 1));
  memcpy(file->data, text.data(), text.size());
  return file;
}

TEST(DataFileCallbacks, WholeItemsOnly) {
  DataFile* file = makeFile("0123456789");
  char buffer[16] = {};
  dataFileSeek(file, 0, SEEK_SET);
  EXPECT_EQ(2u, dataFileRead(buffer, 4, 3, file));
  EXPECT_EQ(8, dataFileTell(file));
  EXPECT_EQ(0u, dataFileRead(buffer, 4, 1, file));
  EXPECT_EQ(8, dataFileTell(file));
  EXPECT_EQ(2u, dataFileRead(buffer, 1, 100, file));
  EXPECT_EQ(0, memcmp(buffer, "89", 2));
  EXPECT_EQ(0u, dataFileRead(buffer, 1, 100, file));
  dataFileSeek(file, 3, SEEK_SET);
  EXPECT_EQ(0u, dataFileRead(buffer, 1, 0, file));
  EXPECT_EQ(3, dataFileTell(file));
  EXPECT_EQ(0u, dataFileRead(nullptr, 1, 1, file));
  EXPECT_EQ(0u, dataFileRead(buffer, 1, 1, nullptr));
  EXPECT_EQ(0, dataFileClose(file));

  DataFile* empty = makeFile("");
  EXPECT_EQ(0u, dataFileRead(buffer, 1, 1, empty));
  EXPECT_EQ(0, dataFileClose(empty));
}

TEST(DataFileCallbacks, SeeksAndTell) {
  DataFile* file = makeFile("abcdef");
  char c = 0;
  EXPECT_EQ(0, dataFileSeek(file, 0, SEEK_END));
  EXPECT_EQ(6, dataFileTell(file));
  EXPECT_EQ(0, dataFileSeek(file, -2, SEEK_CUR));
  EXPECT_EQ(1u, dataFileRead(&c, 1, 1, file));
  EXPECT_EQ('e', c);
  EXPECT_EQ(0, dataFileSeek(file, 100, SEEK_SET)); // beyond the end: accepted
  EXPECT_EQ(0u, dataFileRead(&c, 1, 1, file));
  EXPECT_EQ(0, dataFileSeek(file, 2, 7)); // unknown whence: unchanged
  EXPECT_EQ(100, dataFileTell(file));
  // Only the low 32 bits of the offset count.
  EXPECT_EQ(0, dataFileSeek(file, (int64_t(1) << 32) + 1, SEEK_SET));
  EXPECT_EQ(1, dataFileTell(file));
  EXPECT_EQ(0, dataFileSeek(nullptr, 1, SEEK_SET));
  EXPECT_EQ(0, dataFileTell(nullptr));
  EXPECT_EQ(0, dataFileClose(file));
  EXPECT_EQ(0, dataFileClose(nullptr));
}

TEST(DataFileCallbacks, NegativeAndOverflowingPositionsDeliverNothing) {
  DataFile* file = makeFile("abcdef");
  char buffer[8];
  dataFileSeek(file, -3, SEEK_SET);
  EXPECT_EQ(0u, dataFileRead(buffer, 1, 2, file));
  dataFileSeek(file, 2, SEEK_SET);
  dataFileSeek(file, -5, SEEK_CUR);
  EXPECT_EQ(0u, dataFileRead(buffer, 1, 1, file));
  // Positions wrap instead of overflowing; a huge item size copies nothing.
  dataFileSeek(file, INT32_MAX, SEEK_SET);
  dataFileSeek(file, 10, SEEK_CUR);
  EXPECT_EQ(0u, dataFileRead(buffer, 1, 1, file));
  dataFileSeek(file, 1, SEEK_SET);
  EXPECT_EQ(0u, dataFileRead(buffer, SIZE_MAX, 2, file));
  EXPECT_EQ(0u, dataFileRead(buffer, SIZE_MAX / 2 + 2, 2, file));
  dataFileClose(file);
}

} // namespace
