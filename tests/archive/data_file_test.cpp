// Opening data files: an entry of the archive first, else a file of the data directory.
#include "archive/data_file.h"
#include "archive_test_support.h"

#include <gtest/gtest.h>

using namespace archive_test;

namespace {

class OpenDataFile : public ::testing::Test {
protected:
  OpenDataFile() : inDir(dir.path()) { std::filesystem::create_directory(dir / "data"); }
  TempDir dir;
  ChangeDir inDir;
};

TEST_F(OpenDataFile, ArchiveFirstThenDirectory) {
  writeFile(dir / "data" / "kelvo.ogg", bytesOf("from the directory"));
  writeFile(dir / "data" / "other.bin", bytesOf("other"));
  writeFile(dir / "data.dat", buildArchive({{.name = "KELVO.OGG",
                                             .data = bytesOf("from the archive"),
                                             .password = "kvernsteik"}}));
  DataFile* file = openDataFile("kelvo.ogg");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(bytesOf("from the archive"), Bytes(file->data, file->data + file->size));
  EXPECT_EQ(0, file->position);
  closeDataFile(file);

  // Not in the archive: the directory's file.
  file = openDataFile("other.bin");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(bytesOf("other"), Bytes(file->data, file->data + file->size));
  closeDataFile(file);

  // An archive entry that fails its check falls back as well.
  writeFile(dir / "data.dat",
            buildArchive({{.name = "kelvo.ogg", .data = bytesOf("x"), .password = "wrong"}}));
  file = openDataFile("kelvo.ogg");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(bytesOf("from the directory"), Bytes(file->data, file->data + file->size));
  closeDataFile(file);

  EXPECT_EQ(nullptr, openDataFile("missing"));
  EXPECT_EQ(nullptr, openDataFile(std::string(kMaxDataFileName + 1, 'a').c_str()));
  EXPECT_EQ(nullptr, openDataFile(nullptr));
}

TEST_F(OpenDataFile, EmptyFilesAndDirectories) {
  writeFile(dir / "data" / "empty", Bytes{});
  DataFile* file = openDataFile("empty");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(0, file->size);
  EXPECT_EQ(0, file->position);
  closeDataFile(file);

  // A directory opens but cannot be read whole.
  std::filesystem::create_directory(dir / "data" / "folder");
  EXPECT_EQ(nullptr, openDataFile("folder"));
}

} // namespace
