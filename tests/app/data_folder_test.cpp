#include "app/data_folder.h"

#include "archive_test_support.h"
#include "temp_dir.h"
#include "unwritten_fifo.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

// A scratch tree laid out like the places a viewer may start the program
// from: a working folder, a program folder and the package's data folder.
class DataFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* folder : {"work", "usr/games", "usr/share/games/viriz"})
      fs::create_directories(tree / folder);
  }
  void addArchive(const fs::path& folder) { std::ofstream(folder / "data.dat") << "x"; }
  void addMesh(const fs::path& folder) {
    fs::create_directories(folder / "data");
    std::ofstream(folder / "data" / "viriz.mesh") << "x";
  }

  TempDir tree;
  fs::path work = tree / "work";
  fs::path program = tree / "usr/games";
  fs::path package = tree / "usr/share/games/viriz";
};

TEST_F(DataFolderTest, TheCurrentFolderWinsWhenItHasEitherPartOfTheData) {
  addArchive(package);
  addArchive(program);
  addArchive(work);
  EXPECT_EQ(findDataFolder(work, program), work);
  fs::remove(work / "data.dat");
  addMesh(work);
  EXPECT_EQ(findDataFolder(work, program), work);
}

TEST_F(DataFolderTest, AnUnrelatedDataFolderDoesNotHideTheInstalledData) {
  addArchive(package);
  fs::create_directories(work / "data" / "photos");
  std::ofstream(work / "data" / "notes.txt") << "x";
  EXPECT_EQ(findDataFolder(work, program), package);
  // A folder named like the mesh is not the mesh either.
  fs::create_directories(program / "data" / "viriz.mesh");
  EXPECT_EQ(findDataFolder(work, program), package);
}

TEST_F(DataFolderTest, ThenTheProgramsFolderThenThePackagesDataFolder) {
  addArchive(package);
  addMesh(program);
  EXPECT_EQ(findDataFolder(work, program), program);
  fs::remove_all(program / "data");
  EXPECT_EQ(findDataFolder(work, program), package);
  // A program folder given with a trailing separator, as the system gives it.
  EXPECT_EQ(findDataFolder(work, program.string() + "/"), package);
}

TEST_F(DataFolderTest, NowhereOrNoProgramFolderKeepsTheCurrentFolder) {
  EXPECT_EQ(findDataFolder(work, program), work);
  addArchive(package);
  EXPECT_EQ(findDataFolder(work, fs::path()), work);
  // A file named "data" is not the data folder.
  std::ofstream(program / "data") << "x";
  fs::remove(package / "data.dat");
  EXPECT_EQ(findDataFolder(work, program), work);
}

// The data set's files: an entry of the archive first, else a file of the
// data folder; the password is the data set's own.
class OpenDataFile : public ::testing::Test {
protected:
  OpenDataFile() : inDir(dir.path()) { fs::create_directory(dir / "data"); }
  static archive_test::Bytes contentOf(DataFile* file) {
    archive_test::Bytes bytes(file->data, file->data + file->size);
    EXPECT_EQ(0, file->position);
    closeDataFile(file);
    return bytes;
  }
  TempDir dir;
  archive_test::ChangeDir inDir;
};

TEST_F(OpenDataFile, ArchiveFirstThenTheDataFolder) {
  using archive_test::bytesOf;
  writeFile(dir / "data" / "kelvo.ogg", bytesOf("from the folder"));
  writeFile(dir / "data" / "other.bin", bytesOf("other"));
  writeFile(dir / "data.dat", archive_test::buildArchive({{.name = "KELVO.OGG",
                                                           .data = bytesOf("from the archive"),
                                                           .password = "kvernsteik"}}));
  DataFile* file = openDataFile("kelvo.ogg");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(bytesOf("from the archive"), contentOf(file));

  // Not in the archive: the folder's file.
  file = openDataFile("other.bin");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(bytesOf("other"), contentOf(file));

  // An archive entry that fails its check falls back as well.
  writeFile(dir / "data.dat",
            archive_test::buildArchive(
                {{.name = "kelvo.ogg", .data = bytesOf("x"), .password = "wrong"}}));
  file = openDataFile("kelvo.ogg");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(bytesOf("from the folder"), contentOf(file));

  EXPECT_EQ(nullptr, openDataFile("missing"));
  EXPECT_EQ(nullptr, openDataFile(std::string(kMaxDataFileName + 1, 'a').c_str()));
  EXPECT_EQ(nullptr, openDataFile(nullptr));
}

TEST_F(OpenDataFile, EmptyFilesOpenAndFoldersDoNot) {
  writeFile(dir / "data" / "empty", archive_test::Bytes{});
  DataFile* file = openDataFile("empty");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(0u, contentOf(file).size());
  fs::create_directory(dir / "data" / "folder");
  EXPECT_EQ(nullptr, openDataFile("folder"));
}

// An archive that is no file cannot deliver, and the folder's file is read
// instead; a file of the folder that is no file is not read either.
TEST_F(OpenDataFile, WhatIsNoRegularFileIsPassedOver) {
  writeFile(dir / "data" / "kelvo.ogg", archive_test::bytesOf("from the folder"));
  const UnwrittenFifo archive(dir / "data.dat");
  const UnwrittenFifo track(dir / "data" / "other.ogg");
  DataFile* file = openDataFile("kelvo.ogg");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(archive_test::bytesOf("from the folder"), contentOf(file));
  EXPECT_EQ(nullptr, openDataFile("other.ogg"));
  EXPECT_FALSE(archive.waitedOn());
  EXPECT_FALSE(track.waitedOn());
}

} // namespace
