// Archives written by real archivers: every supported entry extracts with a
// matching CRC and equals the original where the test data keep it.
#include "archive/archive_reader.h"
#include "archive_test_support.h"

#include <gtest/gtest.h>
#include <map>

using namespace archive_test;

namespace {

struct Extracted {
  bool ok;
  ArchiveError error;
  Bytes data;
};

Extracted extract(const std::filesystem::path& archive, const std::string& name,
                  const char* password = nullptr) {
  const ExtractedEntry entry = extractArchiveEntry(name.c_str(), archive.c_str(), password);
  Extracted out{entry.ok(), entry.error, {}};
  if (entry.ok()) {
    EXPECT_NE(nullptr, entry.data.get());
    out.data.assign(entry.data.get(), entry.data.get() + entry.size);
  } else {
    EXPECT_EQ(nullptr, entry.data.get());
    EXPECT_EQ(0, entry.size);
  }
  return out;
}

std::vector<ArchiveEntryInfo> list(const std::filesystem::path& archive) {
  std::vector<ArchiveEntryInfo> entries;
  EXPECT_EQ(ArchiveError::None, listArchiveEntries(archive.c_str(), entries)) << archive;
  return entries;
}

// The original of an entry, where the test data keep one.
std::optional<Bytes> expectedContent(const std::string& archive, const std::string& entry) {
  const auto expected = kRarData / "expected";
  if (archive.starts_with("zxtune_test_v2"))
    return readFile(expected / "zxtune_etalon.bin");
  if (archive.starts_with("junrar_BoatModernEnglish") && entry == "BoatModernEnglish.wav")
    return readFile(expected / "junrar_BoatModernEnglish.wav");
  if (archive == "sharpcompress_Rar2.rar" || archive == "sharpcompress_Rar.none.rar") {
    const auto originals = expected / "sharpcompress_Original";
    if (entry == "exe\\test.exe")
      return readFile(originals / "exe" / "test.exe");
    if (entry == "jpg\\test.jpg")
      return readFile(originals / "jpg" / "test.jpg");
    if (entry.ends_with(".txt"))
      return readFile(originals / "тест.txt");
  }
  if (archive == "rarfile_rar202-comment-nopsw.rar" || archive == "rarfile_rar202-comment-psw.rar")
    return entry == "FILE1.TXT" ? bytesOf("file1\r\n") : bytesOf("file2\r\n");
  return std::nullopt;
}

class RealArchives : public ::testing::Test {
protected:
  void SetUp() override { SKIP_WITHOUT_SHARED_TEST_DATA(); }
};

TEST_F(RealArchives, EveryVersion20EntryExtracts) {
  const std::vector<std::filesystem::path> archives = {
      kRarData / "v20" / "zxtune_test_v2.rar",
      kRarData / "v20" / "zxtune_test_v2solid5.rar",
      kRarData / "v20" / "zxtune_mm.rar",
      kRarData / "v20" / "zxtune_AY.RAR",
      kRarData / "v20" / "junrar_BoatModernEnglish-audio-text-unpack20.rar",
      kRarData / "v20" / "junrar_BoatModernEnglish-regular-unpack20.rar",
      kRarData / "v20" / "junrar_rar20-password-compressed.rar",
      kRarData / "v20" / "junrar_rar20-password-stored.rar",
      kRarData / "v20" / "rarfile_rar202-comment-nopsw.rar",
      kRarData / "v20" / "rarfile_rar202-comment-psw.rar",
      kRarData / "v20" / "sharpcompress_Rar2.rar",
      kRarData / "v20-stored-in-rar3" / "libarchive_test_read_format_rar.rar",
      kRarData / "v20-stored-in-rar3" / "sharpcompress_Rar.none.rar",
  };
  size_t compared = 0, extracted = 0;
  for (const auto& archive : archives) {
    const std::string archiveName = archive.filename().string();
    for (const ArchiveEntryInfo& entry : list(archive)) {
      const Extracted got = extract(archive, entry.name, "password");
      ASSERT_TRUE(got.ok) << archiveName << " " << entry.name << ": "
                          << describeArchiveError(got.error);
      ASSERT_EQ(entry.unpackedSize, got.data.size()) << archiveName << " " << entry.name;
      EXPECT_EQ(entry.crc, crcOf(got.data)) << archiveName << " " << entry.name;
      ++extracted;
      if (const auto expected = expectedContent(archiveName, entry.name)) {
        EXPECT_TRUE(*expected == got.data) << archiveName << " " << entry.name;
        ++compared;
      }
    }
  }
  EXPECT_EQ(123u, extracted);
  EXPECT_EQ(21u, compared);
}

TEST_F(RealArchives, EncipheredEntriesNeedThePassword) {
  for (const char* name :
       {"junrar_rar20-password-compressed.rar", "junrar_rar20-password-stored.rar"}) {
    const auto archive = kRarData / "v20" / name;
    for (const char* wrong : {static_cast<const char*>(nullptr), "", "Password", "passwort"}) {
      const Extracted got = extract(archive, "SECRET.TXT", wrong);
      EXPECT_FALSE(got.ok) << name;
      EXPECT_EQ(ArchiveError::BadData, got.error) << name;
    }
    const Extracted got = extract(archive, "secret.txt", "password");
    ASSERT_TRUE(got.ok) << name;
    EXPECT_EQ(87u, got.data.size());
    EXPECT_EQ(0x967e05a2u, crcOf(got.data));
  }
}

// The file headers of these archives carry comments after the name: the data
// begin after the whole header.
TEST_F(RealArchives, DataFollowTheWholeHeader) {
  const auto archive = kRarData / "v20" / "rarfile_rar202-comment-psw.rar";
  const auto entries = list(archive);
  ASSERT_EQ(2u, entries.size());
  EXPECT_TRUE(entries[0].flags & kFileHasComment);
  const Extracted got = extract(archive, "FILE2.TXT", "password");
  ASSERT_TRUE(got.ok) << describeArchiveError(got.error);
  EXPECT_EQ(bytesOf("file2\r\n"), got.data);
}

TEST_F(RealArchives, SolidEntryNeedsItsPredecessor) {
  const auto archive = kRarData / "v20" / "zxtune_test_v2solid5.rar";
  const auto entries = list(archive);
  ASSERT_EQ(2u, entries.size());
  EXPECT_TRUE(entries[1].flags & kFileSolid);
  EXPECT_LT(entries[1].packedSize, 100u);
  const Extracted got = extract(archive, "P5_SOLID.BIN");
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(readFile(kRarData / "expected" / "zxtune_etalon.bin"), got.data);
}

TEST_F(RealArchives, SubBlockStopsTheScan) {
  const auto archive = kRarData / "v20" / "rarfile_rar2-unix-owner.rar";
  EXPECT_TRUE(extract(archive, "file.txt").ok);
  const Extracted missing = extract(archive, "other.txt");
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(ArchiveError::SubBlock, missing.error);
  std::vector<ArchiveEntryInfo> entries;
  EXPECT_EQ(ArchiveError::SubBlock, listArchiveEntries(archive.c_str(), entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ("file.txt", entries[0].name);
}

TEST_F(RealArchives, MultiVolumeEntriesFailCleanly) {
  size_t splitEntries = 0;
  for (const auto& file : std::filesystem::directory_iterator(kRarData / "v20")) {
    const std::string name = file.path().filename().string();
    if (!name.starts_with("sharpcompress_Rar2.multi."))
      continue;
    std::vector<ArchiveEntryInfo> entries;
    ASSERT_EQ(ArchiveError::None, listArchiveEntries(file.path().c_str(), entries)) << name;
    for (const ArchiveEntryInfo& entry : entries) {
      if (!(entry.flags & (kFileSplitBefore | kFileSplitAfter)))
        continue;
      const Extracted got = extract(file.path(), entry.name);
      EXPECT_FALSE(got.ok) << name << " " << entry.name;
      EXPECT_EQ(ArchiveError::SplitEntry, got.error) << name << " " << entry.name;
      ++splitEntries;
    }
  }
  EXPECT_EQ(9u, splitEntries);
}

// Version 15 entries: stored plain ones are only bytes and extract; compressed
// and enciphered ones use older methods and fail cleanly.
TEST_F(RealArchives, Version15EntriesFailCleanlyUnlessPlainStored) {
  size_t failed = 0, stored = 0;
  for (const auto& file : std::filesystem::directory_iterator(kRarData / "v15")) {
    for (const ArchiveEntryInfo& entry : list(file.path())) {
      ASSERT_EQ(15, entry.unpackVersion);
      const Extracted got = extract(file.path(), entry.name, "password");
      const bool plainStored = entry.method == kMethodStored && !(entry.flags & kFileEnciphered);
      if (plainStored || entry.unpackedSize == 0) {
        EXPECT_TRUE(got.ok) << entry.name;
        ++stored;
      } else {
        EXPECT_FALSE(got.ok) << entry.name;
        EXPECT_EQ(ArchiveError::UnsupportedVersion, got.error) << entry.name;
        ++failed;
      }
    }
  }
  EXPECT_EQ(11u, failed);
  EXPECT_EQ(4u, stored);
}

} // namespace
