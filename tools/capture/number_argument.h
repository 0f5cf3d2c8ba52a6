#pragma once

#include <cstdlib>

// The latest time of the show the capture tools take, in seconds. The show
// runs about a minute; an hour leaves room for stills and silence past its
// end and bounds what one run writes: at most 635 MB of music as WAV, whose
// 32-bit sizes end at 4 GiB, and at most 864,000 frames of a sequence at 240
// frames a second, which the six-digit frame names still sort.
inline constexpr double kLatestShowSeconds = 3600.0;

// A command-line number of the capture tools: the whole argument must read as
// one (strtod's syntax) and lie from `lowest` to `highest`, which infinities
// and NaN never do. False otherwise, leaving `value` as it was.
inline bool parseNumber(const char* text, double lowest, double highest, double& value) {
  char* end = nullptr;
  const double read = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(read >= lowest && read <= highest))
    return false;
  value = read;
  return true;
}
