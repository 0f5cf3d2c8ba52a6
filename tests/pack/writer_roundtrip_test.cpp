// Archives written by the writer and read back by the demo's reader.
#include "pack_test_support.h"
#include "shared_test_data.h"

#include "archive/archive_cipher.h"
#include "archive/archive_format.h"
#include "archive/crc32.h"

#include <gtest/gtest.h>

using namespace packtest;
using pack::Method;
using pack::PackOptions;

namespace {

struct MethodCase {
  const char* label;
  Method method;
  int channels;
};

const MethodCase methodCases[] = {
    {"store", Method::Store, 1},  {"fast", Method::Fast, 1},    {"best", Method::Best, 1},
    {"audio1", Method::Audio, 1}, {"audio2", Method::Audio, 2}, {"audio3", Method::Audio, 3},
    {"audio4", Method::Audio, 4},
};

PackOptions optionsFor(const MethodCase& c, bool solid = false, std::string password = {}) {
  PackOptions options;
  options.method = c.method;
  options.audioChannels = c.channels;
  options.solid = solid;
  options.password = std::move(password);
  return options;
}

void expectExtracts(const std::filesystem::path& archive, const std::vector<Entry>& entries,
                    const std::string& password = {}) {
  for (const Entry& entry : entries) {
    std::vector<uint8_t> data;
    ASSERT_TRUE(extract(archive, entry.name, password, data)) << entry.name;
    ASSERT_EQ(data.size(), entry.data.size()) << entry.name;
    EXPECT_TRUE(data == entry.data) << entry.name;
  }
}

class EveryMethod : public testing::TestWithParam<MethodCase> {};

TEST_P(EveryMethod, SmallAndEmptyEntriesRoundTrip) {
  TempDir dir;
  const std::vector<Entry> entries = {{"empty.bin", {}},
                                      {"one.bin", {0x42}},
                                      {"text.txt", makeText(20000)},
                                      {"pcm.raw", makePcm(30000, 2, 2)},
                                      {"noise.bin", makeNoise(5000)}};
  for (bool enciphered : {false, true}) {
    SCOPED_TRACE(enciphered ? "enciphered" : "plain");
    const auto archive = dir / "small.rar";
    writeArchive(archive, entries, optionsFor(GetParam(), false, enciphered ? "secret" : ""));
    expectExtracts(archive, entries, enciphered ? "secret" : "");
  }
}

TEST_P(EveryMethod, SolidArchivesRoundTripPlainAndEnciphered) {
  TempDir dir;
  const std::vector<Entry> entries = {{"a.txt", makeText(40000, 7)},
                                      {"empty", {}},
                                      {"b.txt", makeText(30000, 7)}, // repeats much of a.txt
                                      {"c.raw", makePcm(40000, 4, 1)},
                                      {"d.bin", makeBinary(50000)},
                                      {"e.bin", {1}}};
  for (const char* password : {"", "kvernsteik", "a-password-longer-than-one-block"}) {
    SCOPED_TRACE(password);
    const auto archive = dir / "solid.rar";
    writeArchive(archive, entries, optionsFor(GetParam(), true, password));
    expectExtracts(archive, entries, password);
  }
}

TEST_P(EveryMethod, EntriesLargerThanTheWindowRoundTrip) {
  // Window wrap, deliveries in pieces, and matches reaching nearly 1 MiB back.
  std::vector<uint8_t> data = makeBinary(700000, 11);
  const std::vector<uint8_t> text = makeText(600000, 12);
  data.insert(data.end(), text.begin(), text.end());
  data.insert(data.end(), data.begin() + 1000, data.begin() + 400000);
  TempDir dir;
  const std::vector<Entry> entries = {{"big.bin", data}, {"after.bin", makeText(70000, 12)}};
  const auto archive = dir / "big.rar";
  writeArchive(archive, entries, optionsFor(GetParam(), true, "pw"));
  expectExtracts(archive, entries, "pw");
}

INSTANTIATE_TEST_SUITE_P(Methods, EveryMethod, testing::ValuesIn(methodCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(WriterRoundTrip, WrongPasswordFailsTheCheck) {
  TempDir dir;
  const std::vector<Entry> entries = {{"kelvo.ogg", makeBinary(20000)}};
  for (Method method : {Method::Store, Method::Best}) {
    PackOptions options;
    options.method = method;
    options.password = "kvernsteik";
    const auto archive = dir / "locked.rar";
    writeArchive(archive, entries, options);
    std::vector<uint8_t> data;
    EXPECT_FALSE(extract(archive, "kelvo.ogg", "kvernsteiK", data));
    EXPECT_TRUE(data.empty());
    EXPECT_FALSE(extract(archive, "kelvo.ogg", "", data));
    EXPECT_TRUE(extract(archive, "kelvo.ogg", "kvernsteik", data));
  }
}

// The longest password the cipher takes works; a longer one fails the archive
// instead of enciphering with keys that no password gives.
TEST(WriterRoundTrip, PasswordsUpToTheCipherLimit) {
  TempDir dir;
  const std::vector<Entry> entries = {{"a", makeText(3000)}, {"b", makeBinary(3000)}};
  PackOptions options;
  options.password = std::string(kMaxPasswordLength, 'p');
  writeArchive(dir / "longest.rar", entries, options);
  expectExtracts(dir / "longest.rar", entries, options.password);

  options.password += 'p';
  EXPECT_THROW(writeArchive(dir / "too_long.rar", entries, options), std::runtime_error);
}

TEST(WriterRoundTrip, NamesMatchIgnoringCaseAndSlashKind) {
  TempDir dir;
  const std::string stored = pack::storedEntryName("Music/Kelvo.OGG");
  EXPECT_EQ(stored, "Music\\Kelvo.OGG");
  const std::vector<Entry> entries = {{stored, makeText(1000)}};
  const auto archive = dir / "names.rar";
  writeArchive(archive, entries, {});
  for (const char* wanted : {"music/kelvo.ogg", "MUSIC\\KELVO.OGG", "Music/Kelvo.OGG"}) {
    std::vector<uint8_t> data;
    EXPECT_TRUE(extract(archive, wanted, "", data)) << wanted;
    EXPECT_EQ(data, entries[0].data);
  }
  std::vector<uint8_t> data;
  EXPECT_FALSE(extract(archive, "kelvo.ogg", "", data));
}

TEST(WriterRoundTrip, StoredNamesAreRelativeWithBackslashes) {
  EXPECT_EQ(pack::storedEntryName("kelvo.ogg"), "kelvo.ogg");
  EXPECT_EQ(pack::storedEntryName("/abs/path//x.bin"), "abs\\path\\x.bin");
  EXPECT_EQ(pack::storedEntryName("./data/./x.bin"), "data\\x.bin");
  EXPECT_EQ(pack::storedEntryName("a\\b/c"), "a\\b\\c");
  EXPECT_EQ(pack::storedEntryName("../x"), "");
  EXPECT_EQ(pack::storedEntryName("a/../x"), "");
  EXPECT_EQ(pack::storedEntryName("/"), "");
  EXPECT_EQ(pack::storedEntryName(std::string(259, 'n')), std::string(259, 'n'));
  EXPECT_EQ(pack::storedEntryName(std::string(260, 'n')), "");
}

// Low 16 bits of the CRC-32 of a header after its CRC field.
uint16_t headerCrc(const uint8_t* header, size_t size) {
  return static_cast<uint16_t>(~crc32Update(0xFFFFFFFF, header + 2, size - 2));
}

// Checks every block's header CRC; returns the block types in order.
std::vector<uint8_t> checkHeaders(const std::vector<uint8_t>& archive) {
  std::vector<uint8_t> types;
  size_t pos = kMarkerSize;
  while (pos + kMinBlockHeaderSize <= archive.size()) {
    const uint8_t* block = archive.data() + pos;
    const uint16_t flags = loadLe16(block + 3);
    const uint16_t size = loadLe16(block + 5);
    EXPECT_GE(size, kMinBlockHeaderSize);
    if (size < kMinBlockHeaderSize || pos + size > archive.size())
      break;
    // File headers of real archives may carry a comment after the name that
    // the CRC does not cover.
    size_t covered = size;
    if (block[2] == kBlockFile && (flags & kFileHasComment))
      covered = kFileHeaderSize + loadLe16(block + 26);
    EXPECT_EQ(loadLe16(block), headerCrc(block, covered)) << "block at " << pos;
    types.push_back(block[2]);
    pos += size + ((flags & kBlockHasData) ? loadLe32(block + 7) : 0);
  }
  EXPECT_EQ(pos, archive.size());
  return types;
}

TEST(WriterRoundTrip, RealArchivesFollowTheHeaderCrcRule) {
  SKIP_WITHOUT_SHARED_TEST_DATA();
  for (const char* name : {"zxtune_test_v2.rar", "zxtune_test_v2solid5.rar",
                           "junrar_rar20-password-compressed.rar", "sharpcompress_Rar2.rar"})
    checkHeaders(readFile(kSharedTestData / "rar/v20" / name));
}

// The same rule holds for ours, which end with an end-of-archive block.
TEST(WriterRoundTrip, HeaderCrcsFollowTheRuleOfRealArchives) {
  TempDir dir;
  PackOptions options;
  options.solid = true;
  options.password = "pw";
  const auto bytes =
      writeArchive(dir / "a.rar", {{"x", makeText(100)}, {"d\\y", makeText(5000)}}, options);
  const auto types = checkHeaders(bytes);
  EXPECT_EQ(types, (std::vector<uint8_t>{kBlockArchive, kBlockFile, kBlockFile, kBlockEnd}));
}

TEST(WriterRoundTrip, OutputIsDeterministic) {
  TempDir dir;
  const std::vector<Entry> entries = {{"a", makeText(100000)}, {"b", makePcm(50000, 2, 2)}};
  PackOptions options;
  options.solid = true;
  options.password = "kvernsteik";
  EXPECT_EQ(writeArchive(dir / "1.rar", entries, options),
            writeArchive(dir / "2.rar", entries, options));
}

} // namespace
