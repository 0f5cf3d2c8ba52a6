// Runs the generator itself and checks what it writes: the same bytes every
// time, files the demo's loaders accept, and music that follows the show.
#include "temp_dir.h"

#include "assets/mesh_loader.h"
#include "assets/texture.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sys/wait.h>
#include <vector>

namespace {

const std::vector<std::string> kWrittenFiles = {"data/viriz.mesh", "data/tex.png", "data/logo.png",
                                                "data/creds.png", "kelvo.ogg"};

int runTool(const std::string& arguments) {
  std::string command = std::string("'") + VIRIZ_ASSETS_TOOL + "' " + arguments + " 2>/dev/null";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Single-quoted for the shell. Built by appending, not as "'" + text: GCC 12
// at -O3 wrongly warns that the memcpy of a one-character literal +
// std::string may overlap (-Wrestrict), which fails a build with warnings as
// errors.
std::string quoted(const std::string& text) {
  std::string out = "'";
  out += text;
  out += '\'';
  return out;
}

int generateInto(const TempDir& dir) {
  return runTool(quoted(dir.path().string()));
}

std::set<std::string> filesUnder(const std::filesystem::path& root) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      names.insert(std::filesystem::relative(entry.path(), root).generic_string());
  return names;
}

// The whole track as interleaved 16-bit stereo, decoded with vorbisfile.
struct DecodedMusic {
  int channels = 0;
  long rate = 0;
  std::vector<int16_t> samples;
};

DecodedMusic decodeOgg(const std::string& path) {
  DecodedMusic music;
  OggVorbis_File file;
  if (ov_fopen(path.c_str(), &file) != 0)
    return music;
  vorbis_info* info = ov_info(&file, -1);
  music.channels = info->channels;
  music.rate = info->rate;
  char buffer[8192];
  int section = 0;
  long got;
  while ((got = ov_read(&file, buffer, sizeof buffer, 0, 2, 1, &section)) > 0) {
    const auto* pcm = reinterpret_cast<const int16_t*>(buffer);
    music.samples.insert(music.samples.end(), pcm, pcm + got / 2);
  }
  ov_clear(&file);
  return music;
}

// Root-mean-square level of beats [first, last), both channels together.
double rmsOfBeats(const DecodedMusic& music, double first, double last) {
  constexpr double kBeatSeconds = 0.3;
  size_t begin = static_cast<size_t>(first * kBeatSeconds * music.rate) * 2;
  size_t end =
      std::min(music.samples.size(), static_cast<size_t>(last * kBeatSeconds * music.rate) * 2);
  double sum = 0.0;
  for (size_t i = begin; i < end; ++i)
    sum += static_cast<double>(music.samples[i]) * music.samples[i];
  return end > begin ? std::sqrt(sum / (end - begin)) / 32768.0 : 0.0;
}

} // namespace

TEST(GeneratedFiles, SameBytesOnEveryRun) {
  TempDir first, second;
  ASSERT_EQ(generateInto(first), 0);
  ASSERT_EQ(generateInto(second), 0);
  EXPECT_EQ(filesUnder(first.path()),
            std::set<std::string>(kWrittenFiles.begin(), kWrittenFiles.end()));
  for (const std::string& name : kWrittenFiles) {
    const std::vector<uint8_t> bytes = readFile(first.path() / name);
    EXPECT_FALSE(bytes.empty()) << name;
    EXPECT_TRUE(bytes == readFile(second.path() / name)) << name << " differs between runs";
  }
}

TEST(GeneratedFiles, DemoLoadersAcceptTheMeshAndPictures) {
  TempDir dir;
  ASSERT_EQ(generateInto(dir), 0);
  std::unique_ptr<Mesh> mesh = loadMesh(dir.file("data/viriz.mesh"));
  EXPECT_GE(mesh->faces.size(), 20000u);
  EXPECT_LE(mesh->faces.size(), 40000u);
  EXPECT_FALSE(mesh->texCoords.empty());
  for (const Face& face : mesh->faces)
    ASSERT_TRUE(faceIndicesInRange(face, mesh->positions.size(), mesh->normals.size(),
                                   mesh->texCoords.size()));
  for (const char* name : {"data/tex.png", "data/logo.png", "data/creds.png"}) {
    std::unique_ptr<Texture> texture = loadTexture(dir.file(name));
    EXPECT_EQ(texture->width, 512) << name;
    EXPECT_EQ(texture->height, 512) << name;
  }
}

TEST(GeneratedFiles, MusicFollowsTheShow) {
  TempDir dir;
  ASSERT_EQ(generateInto(dir), 0);
  DecodedMusic music = decodeOgg(dir.file("kelvo.ogg"));
  ASSERT_EQ(music.channels, 2);
  ASSERT_EQ(music.rate, 44100);
  double seconds = static_cast<double>(music.samples.size()) / 2 / music.rate;
  EXPECT_GE(seconds, 70.0);
  EXPECT_LE(seconds, 80.0);

  // The groove starts with the logo, the second part is busier still, and
  // the finale under the credits drops back; four beats each side.
  EXPECT_GT(rmsOfBeats(music, 32, 36), 1.2 * rmsOfBeats(music, 28, 32));
  EXPECT_GT(rmsOfBeats(music, 96, 100), 1.15 * rmsOfBeats(music, 92, 96));
  EXPECT_LT(rmsOfBeats(music, 160, 164), 0.8 * rmsOfBeats(music, 156, 160));
  // It starts softly and ends in silence rather than being cut off.
  double loudest = rmsOfBeats(music, 96, 160);
  EXPECT_LT(rmsOfBeats(music, 0, 4), 0.5 * loudest);
  EXPECT_LT(rmsOfBeats(music, 240 + 5, 240 + 6.5), 0.01 * loudest);
  EXPECT_GT(loudest, 0.1) << "a usable level";
}

TEST(GeneratedFiles, BuildPacksTheMusicIntoTheArchive) {
  const std::filesystem::path bin = std::filesystem::path(VIRIZ_BINARY_DIR) / "bin";
  if (!std::filesystem::exists(bin / "viriz-pack"))
    GTEST_SKIP() << "no packer in this build";
  EXPECT_TRUE(std::filesystem::exists(bin / "data.dat"));
  EXPECT_FALSE(std::filesystem::exists(bin / "kelvo.ogg")) << "the music lives only in the archive";
  EXPECT_FALSE(std::filesystem::exists(bin / "data" / "kelvo.ogg"));

  TempDir dir;
  ASSERT_EQ(generateInto(dir), 0);
  std::string extract = quoted((bin / "viriz-pack").string()) + " extract " +
                        quoted((bin / "data.dat").string()) + " kelvo.ogg -p kvernsteik -o " +
                        quoted(dir.file("extracted.ogg"));
  ASSERT_EQ(std::system(extract.c_str()), 0);
  EXPECT_TRUE(readFile(dir.file("extracted.ogg")) == readFile(dir.file("kelvo.ogg")))
      << "the archive holds the current music";
}

TEST(GeneratedFiles, BadArgumentsFailCleanly) {
  EXPECT_EQ(runTool(""), 2);
  EXPECT_EQ(runTool("a b"), 2);
  EXPECT_EQ(runTool("--frobnicate"), 2) << "an option is not taken for a folder";
  EXPECT_EQ(runTool("--help"), 0);
  TempDir dir;
  std::ofstream(dir.file("plain-file")) << "x";
  EXPECT_EQ(runTool(quoted(dir.file("plain-file") + "/out")), 1);
}
