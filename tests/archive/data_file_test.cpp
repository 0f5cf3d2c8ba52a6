// Data file records: over bytes handed over, or a file read whole.
#include "archive/data_file.h"
#include "archive_test_support.h"
#include "unwritten_fifo.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace archive_test;

namespace {

Bytes contentOf(const DataFile* file) {
  return Bytes(file->data, file->data + file->size);
}

TEST(DataFile, TakesOverBytesFromMalloc) {
  MallocBytes bytes(static_cast<uint8_t*>(malloc(5)));
  memcpy(bytes.get(), "hello", 5);
  DataFile* file = newDataFile(std::move(bytes), 5);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(bytesOf("hello"), contentOf(file));
  EXPECT_EQ(0, file->position);
  closeDataFile(file);
  EXPECT_EQ(nullptr, newDataFile(nullptr, 0));
  closeDataFile(nullptr);
}

TEST(DataFile, LoadsWholeFilesButNotFolders) {
  TempDir dir;
  writeFile(dir / "file", bytesOf("whole"));
  DataFile* file = loadDataFile((dir / "file").c_str());
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(bytesOf("whole"), contentOf(file));
  EXPECT_EQ(0, file->position);
  closeDataFile(file);

  writeFile(dir / "empty", Bytes{});
  file = loadDataFile((dir / "empty").c_str());
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(0, file->size);
  closeDataFile(file);

  EXPECT_EQ(nullptr, loadDataFile((dir / "missing").c_str()));
}

// What is not a regular file is refused at once, by the loader and by the
// archive reader: a FIFO would keep the open waiting for a writer, a device
// has no end, a folder no bytes.
TEST(DataFile, OnlyRegularFilesOpen) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  const UnwrittenFifo fifo(dir / "fifo");
  for (const std::string& path :
       {(dir / "fifo").string(), (dir / "folder").string(), std::string("/dev/zero")}) {
    EXPECT_EQ(nullptr, loadDataFile(path.c_str())) << path;
    EXPECT_EQ(ArchiveError::CannotOpen, extractArchiveEntry("x", path.c_str(), nullptr).error)
        << path;
  }
  EXPECT_FALSE(fifo.waitedOn());
}

} // namespace
