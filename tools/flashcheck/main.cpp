// viriz-flashcheck: renders the whole show offscreen, picture by picture at a
// fixed rate, and checks it against the general-flash rule.
#include "flash_analysis.h"
#include "frame_capture.h"
#include "number_argument.h"
#include "rgb_png.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

const char kUsage[] =
    "usage: viriz-flashcheck [--data DIR] [--reduced-flashing] [--fps N] [--from S] [--to S]\n"
    "                        [--plot FILE.png] [--require-pass]\n"
    "\n"
    "Renders the show offscreen at 640x480 and counts, pixel by pixel, flashes:\n"
    "pairs of opposing changes in relative luminance of at least 0.1 whose darker\n"
    "state is below 0.8. A second fails when more than three flashes happen\n"
    "together over more than 25 % of some 213x160 field (10 degrees of view).\n"
    "Prints the worst second, the seconds over the limit and where they are.\n"
    "  --data DIR          where data.dat and data/ are (default: this program's folder)\n"
    "  --reduced-flashing  the show's reduced-flashing mode\n"
    "  --fps N             pictures a second, 1 to 64 (default 60)\n"
    "  --from S, --to S    the stretch of the show, 0 to 3600 s (default: all of the music)\n"
    "  --plot FILE.png     flashes a second over time (top; red line: the limit)\n"
    "                      and the share of the worst field flashing more often\n"
    "                      (bottom; red line: 25 %), grey lines every 10 s\n"
    "  --require-pass      exit with 1 when some second fails (else 0 either way)\n";

struct Options {
  std::string dataDir;
  std::string plot;
  bool reducedFlashing = false;
  bool requirePass = false;
  double fps = 60.0;
  double from = 0.0;
  double to = -1.0; // the end of the music
};

// Reads the command line; returns what is wrong with it, "" when nothing is.
std::string readOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    auto number = [&](double lowest, double highest, double& value) {
      return hasValue && parseNumber(argv[++i], lowest, highest, value);
    };
    if (arg == "--data" && hasValue) {
      options.dataDir = argv[++i];
    } else if (arg == "--plot" && hasValue) {
      options.plot = argv[++i];
    } else if (arg == "--reduced-flashing") {
      options.reducedFlashing = true;
    } else if (arg == "--require-pass") {
      options.requirePass = true;
    } else if (arg == "--fps") {
      if (!number(1.0, 64.0, options.fps) || options.fps != static_cast<int>(options.fps))
        return "--fps needs a whole number of pictures a second from 1 to 64";
    } else if (arg == "--from" || arg == "--to") {
      if (!number(0.0, kLatestShowSeconds, arg == "--from" ? options.from : options.to))
        return arg + " needs seconds from 0 to " + std::to_string(int(kLatestShowSeconds));
    } else {
      return "unknown option or missing value: '" + arg + "'";
    }
  }
  if (options.to >= 0.0 && !(options.to > options.from))
    return "--to must be later than --from";
  return "";
}

// Times in the show: the summary's count from the first picture, at `from`.
void printSummary(const FlashSummary& summary, const FlashLimits& limits, double from) {
  std::printf("worst second: %d flashes, %.2f-%.2f s (%.1f %% of a field flashing more than %d "
              "times)\n",
              summary.worstFlashes, from + summary.worstSecondStart,
              from + summary.worstSecondStart + 1.0, 100.0 * summary.worstShareOverLimit,
              limits.mostFlashesPerSecond);
  std::printf("seconds over %d flashes: %.2f s", limits.mostFlashesPerSecond,
              summary.secondsOverLimit);
  const char* separator = " (seconds ending at ";
  for (const FailingStretch& stretch : summary.failingStretches) {
    std::printf("%s%.2f-%.2f s", separator, from + stretch.firstEnd, from + stretch.lastEnd);
    separator = ", ";
  }
  std::printf("%s\n", summary.failingStretches.empty() ? "" : ")");
  std::printf("largest share of a field flashing more than %d times in a second: %.1f %%\n",
              limits.mostFlashesPerSecond, 100.0 * summary.largestShareOverLimit);
  std::printf("saturated red: at most %.1f %% of a field (red flashes need over %.0f %%)\n",
              100.0 * summary.largestSaturatedRedShare, 100.0 * limits.largestShareOfField);
  std::printf("%s\n", summary.passes ? "passes" : "fails");
}

int check(const Options& options) {
  const auto started = std::chrono::steady_clock::now();
  FrameCapture capture(options.dataDir);
  capture.show().flashing = options.reducedFlashing ? Flashing::Reduced : Flashing::AsComposed;
  double to = options.to;
  if (to < 0.0) {
    to = musicLength();
    if (to <= options.from) {
      std::fprintf(stderr, "viriz-flashcheck: cannot read the music's length\n");
      return 2;
    }
  }

  const int fps = static_cast<int>(options.fps);
  FlashAnalysis analysis(FrameCapture::kWidth, FrameCapture::kHeight, fps);
  const long pictures = static_cast<long>((to - options.from) * fps + 0.5);
  for (long picture = 0; picture < pictures; ++picture)
    analysis.addPicture(capture.render(static_cast<float>(options.from + picture / options.fps)));

  const FlashSummary summary = analysis.summary();
  std::printf("%s show, %.2f-%.2f s at %d pictures a second (%ld pictures)\n",
              options.reducedFlashing ? "reduced-flashing" : "default", options.from, to, fps,
              pictures);
  printSummary(summary, analysis.limits(), options.from);
  if (!options.plot.empty()) {
    constexpr int kPlotWidth = 960, kPlotHeight = 200;
    if (!writeRgbPng(
            options.plot,
            plotFlashes(analysis.seconds(), fps, analysis.limits(), kPlotWidth, kPlotHeight),
            kPlotWidth, kPlotHeight)) {
      std::fprintf(stderr, "viriz-flashcheck: cannot write %s\n", options.plot.c_str());
      return 2;
    }
    std::printf("plot: %s\n", options.plot.c_str());
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  std::printf("took %.1f s\n", took.count());
  return options.requirePass && !summary.passes ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Options options;
  const std::string problem = readOptions(argc, argv, options);
  if (!problem.empty()) {
    std::fprintf(stderr, "viriz-flashcheck: %s\n\n%s", problem.c_str(), kUsage);
    return 2;
  }
  namespace fs = std::filesystem;
  if (!options.plot.empty())
    options.plot = fs::absolute(options.plot).string();
  if (options.dataDir.empty())
    options.dataDir = fs::canonical("/proc/self/exe").parent_path().string();
  try {
    return check(options);
  } catch (const std::string& text) {
    std::fprintf(stderr, "viriz-flashcheck: %s\n", text.c_str());
  } catch (const char* text) {
    std::fprintf(stderr, "viriz-flashcheck: %s\n", text);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "viriz-flashcheck: %s\n", error.what());
  }
  return 2;
}
