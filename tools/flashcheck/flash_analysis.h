// The general-flash rule applied to a picture sequence, pixel by pixel: a
// flash is a pair of opposing changes in relative luminance of at least 0.1
// where the darker state is below 0.8, and a sequence fails when more than
// three flashes within one second happen together over more than a quarter of
// some field of 213x160 pixels (10 degrees of view of a 640x480 picture).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct FlashLimits {
  float leastChange = 0.1f;
  float darkerStateBelow = 0.8f;
  int mostFlashesPerSecond = 3;
  double largestShareOfField = 0.25;
  int fieldWidth = 213;
  int fieldHeight = 160;
  // Fields are tried every this many pixels across and down (and at the
  // picture's right and bottom edges).
  int fieldStride = 2;
};

// The one second of pictures that ends with a given picture.
struct SecondOfFlashes {
  // The most flashes that happen together over more than the allowed share
  // of some field: the sequence fails here when it is over the limit.
  int flashes = 0;
  // The largest share of a field whose pixels flash more often than allowed.
  double shareOverLimit = 0.0;
};

// A stretch of pictures whose second fails, by the times at which those
// seconds end (as the summary's other times, from the first picture).
struct FailingStretch {
  double firstEnd = 0.0;
  double lastEnd = 0.0;
};

struct FlashSummary {
  bool passes = true;
  int worstFlashes = 0;
  double worstSecondStart = 0.0; // the first second with the most flashes
  double worstShareOverLimit = 0.0;
  double secondsOverLimit = 0.0; // how many of the seconds (at one a picture) fail
  // The largest share of a field flashing more often than allowed, in any
  // second: how close a passing sequence comes to failing.
  double largestShareOverLimit = 0.0;
  std::vector<FailingStretch> failingStretches;
  // The largest share of a field in saturated red (red at least 80 % of the
  // linear light) in any picture; a red flash needs more than the allowed
  // share, so at or below it there is none.
  double largestSaturatedRedShare = 0.0;
};

// Relative luminance (0 to 1) of an 8-bit sRGB colour.
float relativeLuminance(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// Takes the pictures one by one at a fixed rate and keeps, per pixel, the
// direction of its last change and its changes within the last second.
class FlashAnalysis {
public:
  // framesPerSecond from 1 to 64 (a pixel's last second fits a 64-bit mask).
  FlashAnalysis(int width, int height, int framesPerSecond, FlashLimits limits = {});

  // One picture: RGB bytes, top row first, width x height of them. Throws
  // std::invalid_argument for any other size.
  void addPicture(const std::vector<std::uint8_t>& rgb);

  // One entry per picture added: the second that ends with it (shorter for
  // the first second of the sequence).
  const std::vector<SecondOfFlashes>& seconds() const { return secondsSoFar; }

  FlashSummary summary() const;

  int framesPerSecond() const { return rate; }
  const FlashLimits& limits() const { return rule; }

private:
  // The share of the worst field covered by pixels whose value is at least
  // `least`.
  double largestFieldShare(const std::vector<std::uint8_t>& values, std::uint8_t least);
  // How many pixels of a field fill more than the allowed share of it.
  std::size_t pixelsOverShare() const;

  int width;
  int height;
  int rate;
  FlashLimits rule;
  std::uint64_t secondMask;
  // Per pixel: the direction of its last counted change (+1 up, -1 down, 0
  // none yet), the lowest and highest luminance since then (the one in the
  // direction of travel is what the next change is measured from), and one
  // bit for each picture of the last second that brought a change.
  std::vector<std::int8_t> direction;
  std::vector<float> lowest;
  std::vector<float> highest;
  std::vector<std::uint64_t> recentChanges;
  // Scratch for one picture: per pixel its changes in the last second and
  // whether it is saturated red; how many pixels have each number of changes;
  // a summed-area table with a zero row and column.
  std::vector<std::uint8_t> changesInSecond;
  std::vector<std::uint8_t> saturatedRed;
  std::size_t pixelsWithChanges[65];
  std::vector<std::uint32_t> areaTable;
  double largestRedShare = 0.0;
  std::vector<SecondOfFlashes> secondsSoFar;
};

// Draws the flashes of each second over the sequence's time (top: flashes a
// second, a red line at the limit, grey lines at every flash; bottom: the
// share of the worst field over the limit, a red line at the allowed share;
// grey lines every 10 s across both), 3 bytes a pixel, top row first.
std::vector<std::uint8_t> plotFlashes(const std::vector<SecondOfFlashes>& seconds,
                                      int framesPerSecond, const FlashLimits& limits, int width,
                                      int height);
