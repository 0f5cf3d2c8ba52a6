// Archives made by viriz-pack open in an independent extractor (Debian's
// unar, used as a black box): every method, solid streams, enciphered entries.
#include "pack_test_support.h"

#include <gtest/gtest.h>

using namespace packtest;

namespace {

bool haveUnar() {
  return std::system("command -v unar >/dev/null 2>&1") == 0;
}

struct Variant {
  const char* label;
  const char* options;
  const char* password;
};

const Variant variants[] = {
    {"store", "--method store", ""},
    {"fast", "--method fast", ""},
    {"best", "--method best", ""},
    {"audio1", "--method audio:1", ""},
    {"audio2", "--method audio:2", ""},
    {"audio4", "--method audio:4", ""},
    {"store_enciphered", "--method store", "kvernsteik"},
    {"best_enciphered", "--method best", "kvernsteik"},
    {"audio3_enciphered", "--method audio:3", "pw"},
    {"fast_solid", "--method fast --solid", ""},
    {"best_solid", "--method best --solid", ""},
    {"best_solid_enciphered", "--method best --solid", "kvernsteik"},
    {"fast_solid_enciphered", "--method fast --solid", "x"},
    {"audio2_solid_enciphered", "--method audio:2 --solid", "kvernsteik"},
};

class OtherExtractor : public testing::TestWithParam<Variant> {};

TEST_P(OtherExtractor, ReadsEveryEntryBack) {
  if (!haveUnar())
    GTEST_SKIP() << "unar is not installed";
  TempDir dir;
  // Relative names with a folder; empty and one-byte entries between large ones.
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"text.txt", makeText(60000)},
      {"empty.bin", {}},
      {"music/kelvo.raw", makePcm(80000, 2, 2)},
      {"one.bin", {0x7F}},
      {"data/table.bin", makeBinary(70000)},
      {"again.txt", makeText(20000)},
      {"noise.bin", makeNoise(3000)},
  };
  std::string names;
  for (const auto& [name, data] : files) {
    std::filesystem::create_directories((dir / "in" / name).parent_path());
    writeFile(dir / "in" / name, data);
    // Two appends, not " " + quoted(name): GCC 12 at -O3 wrongly warns that
    // the memcpy of a one-character literal + std::string may overlap
    // (-Wrestrict), which fails a build with warnings as errors.
    names += ' ';
    names += quoted(name);
  }
  const Variant& v = GetParam();
  const std::string password = *v.password ? std::string(" -p ") + v.password : "";
  const CommandResult create =
      runCommand("cd " + quoted((dir / "in").string()) + " && " + quoted(packTool()) +
                     " create ../a.rar " + v.options + password + names,
                 dir.path());
  ASSERT_EQ(create.status, 0) << create.err;

  const CommandResult unar = runCommand("unar -q -D -o " + quoted((dir / "out").string()) +
                                            password + " " + quoted((dir / "a.rar").string()),
                                        dir.path());
  EXPECT_EQ(unar.status, 0) << unar.out << unar.err;
  for (const auto& [name, data] : files) {
    ASSERT_TRUE(std::filesystem::exists(dir / "out" / name)) << name;
    EXPECT_TRUE(readFile(dir / "out" / name) == data) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, OtherExtractor, testing::ValuesIn(variants),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(OtherExtractorListing, SeesWindowsNamesAndTheFixedTime) {
  if (!haveUnar())
    GTEST_SKIP() << "unar is not installed";
  TempDir dir;
  writeArchive(dir / "a.rar", {{"music\\kelvo.ogg", makeText(100)}}, {});
  const CommandResult list = runCommand("lsar -l " + quoted((dir / "a.rar").string()), dir.path());
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("2000-01-01 00:00  music/kelvo.ogg"), std::string::npos) << list.out;
}

} // namespace
