#include "capture_options.h"

#include "number_argument.h"

#include <cstdio>

namespace {

bool isOption(const char* text) {
  return text[0] == '-' && text[1] == '-';
}

std::string range(double lowest, double highest) {
  char text[64];
  std::snprintf(text, sizeof text, "from %g to %g", lowest, highest);
  return text;
}

// Where an option that takes a path keeps it; null for other options.
std::string* pathOption(const std::string& arg, CaptureOptions& options) {
  if (arg == "--out")
    return &options.outDir;
  if (arg == "--data")
    return &options.dataDir;
  if (arg == "--video")
    return &options.video;
  return nullptr;
}

// The checks that need the whole command line.
std::string checkCombination(const CaptureOptions& options) {
  const bool sequence = options.fps > 0.0;
  if (sequence == !options.times.empty())
    return "give either --at or --fps";
  if (options.outDir.empty())
    return "--out is missing";
  if (sequence && !(options.to > options.from))
    return "--to must be later than --from";
  return "";
}

} // namespace

std::string readCaptureOptions(int argc, const char* const* argv, CaptureOptions& options) {
  const std::string seconds = "seconds " + range(0.0, kLatestShowSeconds);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    auto number = [&](double lowest, double highest, double& value) {
      return hasValue && parseNumber(argv[++i], lowest, highest, value);
    };
    if (arg == "--at") {
      // Every argument up to the next option is a time.
      const size_t before = options.times.size();
      while (i + 1 < argc && !isOption(argv[i + 1])) {
        double at = 0.0;
        if (!parseNumber(argv[++i], 0.0, kLatestShowSeconds, at))
          return "--at takes " + seconds + ", not '" + argv[i] + "'";
        options.times.push_back(at);
      }
      if (options.times.size() == before)
        return "--at needs one or more times in " + seconds;
    } else if (arg == "--fps") {
      if (!number(1.0, kFastestCaptureFps, options.fps))
        return "--fps needs frames a second " + range(1.0, kFastestCaptureFps);
    } else if (arg == "--from" || arg == "--to") {
      if (!number(0.0, kLatestShowSeconds, arg == "--from" ? options.from : options.to))
        return arg + " needs " + seconds;
    } else if (std::string* path = pathOption(arg, options)) {
      if (!hasValue)
        return arg + " needs a path";
      *path = argv[++i];
    } else if (arg == "--reduced-flashing") {
      options.reducedFlashing = true;
    } else {
      return "unknown option '" + arg + "'";
    }
  }
  return checkCombination(options);
}
