#pragma once

#include <string>
#include <vector>

// What viriz-capture is asked for on its command line: frames at given times
// (--at), or a sequence from --from to --to at --fps with its music.
struct CaptureOptions {
  std::string dataDir;
  std::string outDir;
  std::vector<double> times;
  double fps = 0.0, from = 0.0, to = 0.0;
  std::string video;
  bool reducedFlashing = false;
};

// The fastest sequence, in frames a second.
inline constexpr double kFastestCaptureFps = 240.0;

// Reads the arguments after the program's name into `options`. Returns what
// is wrong with them, "" when nothing is: an unknown option, an option
// without its value, a number that is not one or lies outside its range
// (times from 0 to kLatestShowSeconds, rates from 1 to kFastestCaptureFps),
// neither or both of --at and --fps, no --out, or --to not after --from.
std::string readCaptureOptions(int argc, const char* const* argv, CaptureOptions& options);
