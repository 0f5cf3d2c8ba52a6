// The viriz-pack command line: listing, extraction failures and their exit
// statuses, where output goes, and reproducible archives.
#include "pack_test_support.h"
#include "shared_test_data.h"

#include "archive/archive_format.h"

#include <gtest/gtest.h>

using namespace packtest;

namespace {

class PackTool : public testing::Test {
protected:
  CommandResult pack(const std::string& arguments) {
    return runCommand(quoted(packTool()) + " " + arguments, dir.path());
  }
  std::string path(const std::string& name) { return quoted((dir / name).string()); }

  TempDir dir;
};

TEST_F(PackTool, ListShowsEveryEntryWithSizesMethodFlagsAndCrc) {
  writeFile(dir / "a.txt", makeText(30000));
  writeFile(dir / "b.bin", {});
  ASSERT_EQ(pack("create " + path("s.rar") + " --solid -p pw --method fast " + path("a.txt") + " " +
                 path("b.bin"))
                .status,
            0);
  const CommandResult list = pack("list " + path("s.rar"));
  EXPECT_EQ(list.status, 0) << list.err;
  // The first entry starts the stream, the second continues it; CRC-32 of an
  // empty file is 0.
  EXPECT_NE(list.out.find("     30000 "), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("fastest  enciphered     "), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("fastest  solid,enciphered  00000000  "), std::string::npos) << list.out;
  // Names show '/' between their parts, whatever separator they were stored with.
  std::string shown = pack::storedEntryName((dir.path() / "b.bin").string().substr(1));
  std::replace(shown.begin(), shown.end(), '\\', '/');
  EXPECT_NE(list.out.find("  " + shown + "\n"), std::string::npos) << list.out;
}

TEST_F(PackTool, ListAndExtractReadRealArchives) {
  SKIP_WITHOUT_SHARED_TEST_DATA();
  const std::string rar = (kSharedTestData / "rar").string();
  const CommandResult real = pack("list " + quoted(rar + "/v20/zxtune_test_v2.rar"));
  EXPECT_EQ(real.status, 0);
  EXPECT_NE(real.out.find("     16384       8185  best     -              10751aba  p5.bin"),
            std::string::npos)
      << real.out;

  const CommandResult unsupported =
      pack("extract " + quoted(rar + "/v15/sharpcompress_Rar15.rar") + " exe/test.exe");
  EXPECT_EQ(unsupported.status, 5);
  EXPECT_NE(unsupported.err.find("version"), std::string::npos) << unsupported.err;
}

TEST_F(PackTool, ExtractFailuresHaveTheirOwnStatusAndMessage) {
  writeFile(dir / "kelvo.ogg", makeBinary(5000));
  ASSERT_EQ(pack("create " + path("data.dat") + " -p kvernsteik " + path("kelvo.ogg")).status, 0);
  const std::string stored = pack::storedEntryName((dir / "kelvo.ogg").string());
  writeFile(dir / "not-an-archive", makeText(100));

  struct Case {
    std::string arguments;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"extract " + path("data.dat") + " missing.ogg -p kvernsteik", 3, "not found"},
      {"extract " + path("data.dat") + " " + quoted(stored) + " -p wrong", 4, "CRC"},
      {"extract " + path("data.dat") + " " + quoted(stored), 4, "CRC"},
      {"extract " + path("not-an-archive") + " x", 1, "not-an-archive"},
      {"extract " + path("absent.rar") + " x", 1, "absent.rar"},
      {"extract " + path("data.dat"), 2, "--help"},
      {"extract " + path("data.dat") + " x --bogus", 2, "unknown option"},
      {"frobnicate", 2, "unknown command"},
  };
  for (const Case& c : cases) {
    const CommandResult result = pack(c.arguments);
    EXPECT_EQ(result.status, c.status) << c.arguments << "\n" << result.err;
    EXPECT_TRUE(result.out.empty()) << c.arguments;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.arguments << "\n" << result.err;
  }
  const CommandResult ok =
      pack("extract " + path("data.dat") + " " + quoted(stored) + " -p kvernsteik");
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(std::vector<uint8_t>(ok.out.begin(), ok.out.end()), readFile(dir / "kelvo.ogg"));
}

TEST_F(PackTool, ExtractWritesOnlyTheGivenPath) {
  // Entry names that climb out of a directory must not matter to -o.
  const std::vector<uint8_t> payload = makeText(2000);
  writeArchive(dir / "evil.rar", {{"..\\..\\escape.txt", payload}, {"\\abs.txt", payload}}, {});
  std::filesystem::create_directories(dir / "out" / "inner");
  const auto before = std::distance(std::filesystem::recursive_directory_iterator(dir.path()),
                                    std::filesystem::recursive_directory_iterator());
  for (const char* name : {"../../escape.txt", "/abs.txt"}) {
    const CommandResult result =
        pack("extract " + path("evil.rar") + " " + quoted(name) + " -o " + path("out/inner/x"));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(dir / "out/inner/x"), payload);
    std::filesystem::remove(dir / "out/inner/x");
  }
  // A failed extraction creates no file at all.
  EXPECT_EQ(pack("extract " + path("evil.rar") + " nothing -o " + path("out/inner/x")).status, 3);
  EXPECT_FALSE(std::filesystem::exists(dir / "out/inner/x"));
  const auto after = std::distance(std::filesystem::recursive_directory_iterator(dir.path()),
                                   std::filesystem::recursive_directory_iterator());
  EXPECT_EQ(after, before);
}

TEST_F(PackTool, CreateIsReproducibleAndStampsTheChosenTime) {
  writeFile(dir / "kelvo.ogg", makePcm(200000, 2, 2));
  const std::string args = " -p kvernsteik --method best " + path("kelvo.ogg");
  ASSERT_EQ(pack("create " + path("1.dat") + args).status, 0);
  ASSERT_EQ(pack("create " + path("2.dat") + args).status, 0);
  const auto first = readFile(dir / "1.dat");
  EXPECT_EQ(first, readFile(dir / "2.dat"));
  const size_t header = kMarkerSize + kArchiveHeaderSize;
  ASSERT_GT(first.size(), header + kFileHeaderSize);
  EXPECT_EQ(loadLe32(first.data() + header + 20), pack::kDefaultDosTime);

  ASSERT_EQ(pack("create " + path("3.dat") + " --time 2024-02-29T13:45:58" + args).status, 0);
  const uint32_t stamped = loadLe32(readFile(dir / "3.dat").data() + header + 20);
  EXPECT_EQ(stamped, (44u << 25) | (2u << 21) | (29u << 16) | (13u << 11) | (45u << 5) | 29u);
  EXPECT_EQ(pack("create " + path("4.dat") + " --time 2024-13-01" + args).status, 2);
  EXPECT_EQ(pack("create " + path("4.dat") + " --time 1979-12-31" + args).status, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "4.dat"));
}

TEST_F(PackTool, CreateRefusesBadInputsWithoutLeavingAnArchive) {
  writeFile(dir / "a.txt", makeText(100));
  EXPECT_EQ(pack("create " + path("x.rar") + " " + path("missing.txt")).status, 1);
  EXPECT_EQ(pack("create " + path("x.rar") + " ../a.txt").status, 2);
  EXPECT_EQ(pack("create " + path("x.rar") + " --method audio:5 " + path("a.txt")).status, 2);
  EXPECT_EQ(
      pack("create " + path("x.rar") + " -p " + std::string(256, 'p') + " " + path("a.txt")).status,
      2);
  EXPECT_EQ(pack("create " + path("x.rar")).status, 2);
  // Neither the archive nor a temporary of it is left.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
  const CommandResult help = pack("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: viriz-pack"), std::string::npos);
}

} // namespace
