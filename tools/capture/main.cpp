// viriz-capture: renders the show offscreen at 640x480 at given times of the
// music, without playing it.
#include "capture_options.h"
#include "frame_capture.h"
#include "rgb_png.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: viriz-capture [--data DIR] [--reduced-flashing] --at SECONDS... --out DIR\n"
    "       viriz-capture [--data DIR] [--reduced-flashing] --fps N --from S --to S --out DIR\n"
    "                     [--video FILE.mp4]\n"
    "\n"
    "Renders the show offscreen at 640x480 through the demo's own start-up and\n"
    "scene script, driven by the given times instead of the music.\n"
    "  --at S...      one PNG per time, named frame-<seconds>.png (sorted in time order)\n"
    "  --fps N        a frame sequence frame-000000.png... from --from to --to seconds,\n"
    "                 and the music of that stretch as music.wav; N from 1 to 240\n"
    "  --video FILE   also mux the sequence and the music into FILE with ffmpeg\n"
    "  --data DIR     where data.dat and data/ are (default: this program's folder)\n"
    "  --reduced-flashing  the show's reduced-flashing mode\n"
    "Times are seconds of the show, from 0 to 3600.\n";

std::string quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text)
    result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

int capture(const CaptureOptions& options, const std::filesystem::path& out) {
  FrameCapture capture(options.dataDir);
  capture.show().flashing = options.reducedFlashing ? Flashing::Reduced : Flashing::AsComposed;
  if (!options.times.empty()) {
    for (double at : options.times) {
      std::filesystem::path path = out / frameNameForTime(at);
      if (!writeRgbPng(path, capture.render(static_cast<float>(at)), FrameCapture::kWidth,
                       FrameCapture::kHeight)) {
        std::fprintf(stderr, "viriz-capture: cannot write %s\n", path.c_str());
        return 1;
      }
      std::printf("%s\n", path.c_str());
    }
    return 0;
  }

  long frames = static_cast<long>((options.to - options.from) * options.fps + 0.5);
  for (long frame = 0; frame < frames; ++frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06ld.png", frame);
    double at = options.from + static_cast<double>(frame) / options.fps;
    if (!writeRgbPng(out / name, capture.render(static_cast<float>(at)), FrameCapture::kWidth,
                     FrameCapture::kHeight, kFastestPng)) {
      std::fprintf(stderr, "viriz-capture: cannot write %s\n", (out / name).c_str());
      return 1;
    }
  }
  std::filesystem::path wav = out / "music.wav";
  if (!writeMusicWav(wav, options.from, options.to)) {
    std::fprintf(stderr, "viriz-capture: cannot decode the music into %s\n", wav.c_str());
    return 1;
  }
  std::printf("%ld frames and %s in %s\n", frames, wav.filename().c_str(), out.c_str());

  if (!options.video.empty()) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", options.fps);
    std::string command = "ffmpeg -loglevel error -y -framerate " + std::string(rate) + " -i " +
                          quoted((out / "frame-%06d.png").string()) + " -i " + quoted(wav) +
                          " -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest " +
                          quoted(options.video);
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "viriz-capture: ffmpeg failed (is it installed?)\n");
      return 1;
    }
    std::printf("%s\n", options.video.c_str());
  }
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  CaptureOptions options;
  const std::string problem = readCaptureOptions(argc, argv, options);
  if (!problem.empty()) {
    std::fprintf(stderr, "viriz-capture: %s\n\n%s", problem.c_str(), kUsage);
    return 2;
  }
  namespace fs = std::filesystem;
  fs::path out = fs::absolute(options.outDir);
  if (!options.video.empty())
    options.video = fs::absolute(options.video).string();
  if (options.dataDir.empty())
    options.dataDir = fs::canonical("/proc/self/exe").parent_path().string();
  std::error_code error;
  fs::create_directories(out, error);
  if (error) {
    std::fprintf(stderr, "viriz-capture: cannot create %s\n", out.c_str());
    return 1;
  }
  try {
    return capture(options, out);
  } catch (const std::string& text) {
    std::fprintf(stderr, "viriz-capture: %s\n", text.c_str());
  } catch (const char* text) {
    std::fprintf(stderr, "viriz-capture: %s\n", text);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "viriz-capture: %s\n", error.what());
  }
  return 1;
}
