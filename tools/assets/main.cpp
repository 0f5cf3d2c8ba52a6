// viriz-assets <output-dir>: writes the demo's default data set, the same
// bytes on every run: data/viriz.mesh, data/tex.png, data/logo.png,
// data/creds.png and the music kelvo.ogg (which the build packs into the
// archive).
#include "ogg_writer.h"
#include "pictures.h"
#include "song.h"
#include "spiral_mesh.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>

namespace {

constexpr int kTextureSize = 512;
constexpr float kMusicQuality = 0.4f;

void writeAll(const std::filesystem::path& out) {
  std::filesystem::path data = out / "data";
  std::filesystem::create_directories(data);
  std::string meshPath = (data / "viriz.mesh").string();
  if (!writeMeshFile(meshPath.c_str(), assets_gen::spiralMesh()))
    throw std::runtime_error("cannot write " + meshPath);
  assets_gen::environmentMap(kTextureSize).writePng((data / "tex.png").string());
  assets_gen::Font font(assets_gen::kFontPath);
  assets_gen::logoOverlay(font, kTextureSize).writePng((data / "logo.png").string());
  assets_gen::creditsOverlay(font, kTextureSize).writePng((data / "creds.png").string());
  assets_gen::writeOggVorbis((out / "kelvo.ogg").string(), assets_gen::renderSong(), kMusicQuality);
}

} // namespace

const char kUsage[] =
    "usage: viriz-assets OUTPUT-DIR\n"
    "\n"
    "Writes the demo's default data set into OUTPUT-DIR, the same bytes on every\n"
    "run: data/viriz.mesh, data/tex.png, data/logo.png, data/creds.png and the\n"
    "music kelvo.ogg (which the build packs into data.dat).\n";

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    writeAll(argv[1]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "viriz-assets: %s\n", error.what());
    return 1;
  }
  return 0;
}
