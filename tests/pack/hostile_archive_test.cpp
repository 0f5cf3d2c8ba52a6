// viriz-pack against hostile archives and careless command lines: a failed
// extraction keeps the old file, links are replaced and never written
// through, memory follows the packed bytes, only regular files are packed,
// names reach the terminal escaped, truncation and damage are reported as
// what they are, and `test` finds every problem.
#include "pack_test_support.h"

#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "archive/crc32.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

extern char** environ;

using namespace packtest;

namespace {

// Where the first entry's header starts: after the marker and the archive header.
constexpr size_t kFirstEntry = kMarkerSize + kArchiveHeaderSize;

#if defined(__SANITIZE_ADDRESS__)
#define VIRIZ_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VIRIZ_TEST_UNDER_ASAN 1
#endif
#endif

#if defined(VIRIZ_TEST_UNDER_ASAN)
// AddressSanitizer's shadow memory and quarantine come on top of the tool's
// own, and it reserves more address space than any limit would leave it.
constexpr long kMostResidentKiB = 256 * 1024;
const std::string kAddressSpaceLimit;
#else
constexpr long kMostResidentKiB = 64 * 1024;
// For commands that could otherwise take all memory: 4 GiB of address space.
const std::string kAddressSpaceLimit = "ulimit -v 4194304; ";
#endif

// Rewrites an entry's header through `change` and seals its CRC again, as an
// archiver that meant it would.
template <class Change>
void rewriteHeader(std::vector<uint8_t>& archive, size_t at, Change change) {
  FileHeader header = parseFileHeader(archive.data() + at);
  change(header);
  encodeFileHeader(header, archive.data() + at);
  const uint32_t crc =
      ~crc32Update(0xFFFFFFFFu, archive.data() + at + 2, header.headerSize - size_t(2));
  storeLe16(archive.data() + at, uint16_t(crc));
}

// What a process used: its exit status (-1 unless it exited) and peak resident memory.
struct Usage {
  int status = -1;
  long maxResidentKiB = 0;
};

// Runs the tool with the arguments, its output and errors discarded.
Usage runMeasured(const std::vector<std::string>& arguments) {
  std::vector<std::string> words{packTool()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  Usage usage;
  int raw = 0;
  struct rusage resources {};
  if (spawned == 0 && wait4(child, &raw, 0, &resources) == child) {
    usage.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    usage.maxResidentKiB = resources.ru_maxrss;
  }
  return usage;
}

class HostileArchive : public testing::Test {
protected:
  CommandResult pack(const std::string& arguments) {
    return runCommand(quoted(packTool()) + " " + arguments, dir.path());
  }
  std::string path(const std::string& name) { return quoted((dir / name).string()); }

  // The names in the folder, but for the tool's captured output.
  std::vector<std::string> folder(const std::string& name = ".") {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir / name))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // "a.rar" of one text entry "f".
  void writeSmallArchive() { writeArchive(dir / "a.rar", {{"f", makeText(3000)}}, {}); }

  TempDir dir;
};

TEST_F(HostileArchive, FailedExtractionKeepsTheOldFile) {
  writeSmallArchive();
  writeFile(dir / "keep.bin", {'k', 'e', 'e', 'p'});
  // No file may grow: the write fails, with SIGXFSZ ignored, as on a full disk.
  const CommandResult result =
      runCommand("(trap '' XFSZ; ulimit -f 0; exec " + quoted(packTool()) + " extract " +
                     path("a.rar") + " f -o " + path("keep.bin") + ")",
                 dir.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(readFile(dir / "keep.bin"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(folder(), (std::vector<std::string>{"a.rar", "keep.bin"}));
}

// A device is written in place and never removed, even when the write fails.
TEST_F(HostileArchive, FailedWriteToADeviceKeepsTheDevice) {
  writeSmallArchive();
  if (mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
    GTEST_SKIP() << "cannot make a device node here (not root)";
  EXPECT_EQ(pack("extract " + path("a.rar") + " f -o " + path("full")).status, 1);
  struct stat status;
  ASSERT_EQ(lstat((dir / "full").c_str(), &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

TEST_F(HostileArchive, ExtractionReplacesALinkNeverWhatItPointsAt) {
  writeSmallArchive();
  std::filesystem::create_directories(dir / "tgt");
  std::filesystem::create_directories(dir / "outside");
  writeFile(dir / "outside/victim.txt", {'v'});
  std::filesystem::create_symlink("../outside/victim.txt", dir / "tgt/out.txt");
  std::filesystem::create_symlink("../outside/new.txt", dir / "tgt/dangling.txt");
  for (const char* link : {"tgt/out.txt", "tgt/dangling.txt"}) {
    const CommandResult result = pack("extract " + path("a.rar") + " f -o " + path(link));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(std::filesystem::is_symlink(dir / link)) << link;
    EXPECT_EQ(readFile(dir / link), makeText(3000)) << link;
  }
  EXPECT_EQ(readFile(dir / "outside/victim.txt"), std::vector<uint8_t>{'v'});
  EXPECT_EQ(folder("outside"), std::vector<std::string>{"victim.txt"});
  EXPECT_EQ(folder("tgt"), (std::vector<std::string>{"dangling.txt", "out.txt"}));
}

// 1.1 MB of random bytes that claim to unpack to 2 GiB - 1: the tool's memory
// follows what they produce (a few megabytes), not the claim.
TEST_F(HostileArchive, MemoryFollowsThePackedBytesNotTheDeclaredSize) {
  std::mt19937 random(30);
  std::vector<uint8_t> noise(1100000);
  for (uint8_t& byte : noise)
    byte = uint8_t(random());
  pack::PackOptions store;
  store.method = pack::Method::Store;
  std::vector<uint8_t> archive = writeArchive(dir / "big.rar", {{"big.bin", noise}}, store);
  rewriteHeader(archive, kFirstEntry, [](FileHeader& h) {
    h.method = kMethodBest;
    h.unpackedSize = uint32_t(INT32_MAX);
  });
  writeFile(dir / "big.rar", archive);

  const Usage usage =
      runMeasured({"extract", (dir / "big.rar").string(), "big.bin", "-o", dir.file("out")});
  EXPECT_EQ(usage.status, 4);
  EXPECT_LT(usage.maxResidentKiB, kMostResidentKiB);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
  RecordProperty("max_resident_kib", std::to_string(usage.maxResidentKiB));
  std::printf("extracting the 2 GiB-declaring archive: %ld KiB resident at most\n",
              usage.maxResidentKiB);
}

TEST_F(HostileArchive, CreatePacksOnlyRegularFiles) {
  std::filesystem::create_directories(dir / "d");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const std::string& input : {dir.file("d"), std::string("/dev/zero"), dir.file("fifo")}) {
    // Bounded in time and memory, so that a tool that waits on the pipe or
    // reads /dev/zero for ever fails here instead of hanging.
    const CommandResult result =
        runCommand("(" + kAddressSpaceLimit + "exec timeout 60 " + quoted(packTool()) + " create " +
                       path("x.rar") + " " + quoted(input) + ")",
                   dir.path());
    EXPECT_EQ(result.status, 1) << input << "\n" << result.err;
    const bool said = result.err.find("it is not a regular file") != std::string::npos ||
                      result.err.find("it is a directory") != std::string::npos;
    EXPECT_TRUE(said) << result.err;
    EXPECT_EQ(folder(), (std::vector<std::string>{"d", "fifo"})) << input;
  }
}

TEST_F(HostileArchive, ListShowsNamesEscapedAndReportsTruncation) {
  const std::vector<uint8_t> payload = makeText(20000);
  writeArchive(dir / "names.rar",
               {{"clear\x1b[2J\x1b]0;title\x07", payload},
                {"line\rfake   0 entries", payload},
                {std::string("a\0../../hidden", 14), payload}},
               {});
  const CommandResult list = pack("list " + path("names.rar"));
  EXPECT_EQ(list.status, 0) << list.err;
  for (char control : {'\x1b', '\x07', '\r', '\0'})
    EXPECT_EQ(list.out.find(control), std::string::npos) << int(control) << "\n" << list.out;
  EXPECT_NE(list.out.find("clear\\x1b[2J\\x1b]0;title\\x07\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("line\\x0dfake"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("a\\x00../../hidden\n"), std::string::npos) << list.out;

  std::vector<uint8_t> archive = readFile(dir / "names.rar");
  archive.resize(3000);
  writeFile(dir / "cut.rar", archive);
  const CommandResult cut = pack("list " + path("cut.rar"));
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("truncated at byte 3000"), std::string::npos) << cut.err;
}

TEST_F(HostileArchive, TestReportsEveryProblemOnALineOfItsOwn) {
  writeArchive(dir / "sound.rar", {{"a.txt", makeText(5000)}, {"b.txt", makeText(6000)}}, {});
  const CommandResult sound = pack("test " + path("sound.rar"));
  EXPECT_EQ(sound.status, 0) << sound.out << sound.err;
  EXPECT_NE(sound.out.find("2 entries, no problems"), std::string::npos) << sound.out;

  // Entry b's header CRC and entry c's data damaged, entry d cut short.
  std::vector<uint8_t> archive = writeArchive(dir / "bad.rar",
                                              {{"a.txt", makeText(5000)},
                                               {"b.txt", makeText(6000)},
                                               {"c.txt", makeBinary(7000)},
                                               {"d.txt", makeBinary(8000)}},
                                              {});
  std::vector<ArchiveEntryInfo> entries;
  ASSERT_EQ(listArchiveEntries((dir / "bad.rar").c_str(), entries), ArchiveError::None);
  size_t at = kFirstEntry;
  std::vector<size_t> starts;
  for (const ArchiveEntryInfo& entry : entries) {
    starts.push_back(at);
    at += kFileHeaderSize + entry.name.size() + entry.packedSize;
  }
  archive[starts[1]] ^= 0x55;
  archive[starts[2] + kFileHeaderSize + 5 + entries[2].packedSize / 2] ^= 0x55;
  archive.resize(starts[3] + kFileHeaderSize + 5 + 100);
  writeFile(dir / "bad.rar", archive);

  const CommandResult bad = pack("test " + path("bad.rar"));
  EXPECT_EQ(bad.status, 4) << bad.out << bad.err;
  const std::string lines[] = {
      "header CRC mismatch at byte " + std::to_string(starts[1]) + " (entry b.txt)",
      "entry c.txt: CRC mismatch: the data are damaged",
      "truncated at byte " + std::to_string(archive.size()) + ": the data of entry d.txt",
      "4 entries, 3 problems"};
  size_t previous = 0;
  for (const std::string& line : lines) {
    const size_t found = bad.out.find(line);
    EXPECT_NE(found, std::string::npos) << line << "\n" << bad.out;
    EXPECT_GE(found, previous) << line << " out of order\n" << bad.out;
    previous = found == std::string::npos ? previous : found;
  }
  EXPECT_EQ(std::count(bad.out.begin(), bad.out.end(), '\n'), 4) << bad.out;
}

TEST_F(HostileArchive, ErrorsSayWhatWasFound) {
  writeSmallArchive();
  pack::PackOptions enciphered;
  enciphered.password = "secret";
  writeArchive(dir / "locked.rar", {{"f", makeText(3000)}}, enciphered);
  std::vector<uint8_t> archive = readFile(dir / "a.rar");
  rewriteHeader(archive, kFirstEntry, [](FileHeader& h) { h.method = 0x36; });
  writeFile(dir / "method.rar", archive);
  archive = readFile(dir / "a.rar");
  archive.resize(kFirstEntry + kFileHeaderSize + 1 + 10);
  writeFile(dir / "cut.rar", archive);
  const std::string cutAt = std::to_string(archive.size());

  struct Case {
    std::string arguments;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"extract " + path("a.rar") + " f -p " + std::string(256, 'p'), 2,
       "the password is 256 bytes long (255 at most)"},
      {"test " + path("a.rar") + " -p " + std::string(256, 'p'), 2,
       "the password is 256 bytes long (255 at most)"},
      {"extract " + path("method.rar") + " f", 5, "entry f: unknown method 0x36"},
      {"extract " + path("cut.rar") + " f", 1,
       "truncated at byte " + cutAt + ": the data of entry f run to byte"},
      {"extract " + path("locked.rar") + " f", 4, "enciphered and no password was given"},
      {"extract " + path("locked.rar") + " f -p wrong", 4, "wrong password, or damaged data"},
  };
  for (const Case& c : cases) {
    const CommandResult result = pack(c.arguments);
    EXPECT_EQ(result.status, c.status) << c.arguments << "\n" << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.arguments << "\n" << result.err;
  }
  const CommandResult method = pack("test " + path("method.rar"));
  EXPECT_EQ(method.status, 4);
  EXPECT_NE(method.out.find("entry f: unknown method 0x36"), std::string::npos) << method.out;
}

} // namespace
