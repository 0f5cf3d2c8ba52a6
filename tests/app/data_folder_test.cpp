#include "app/data_folder.h"

#include "temp_dir.h"

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

} // namespace
