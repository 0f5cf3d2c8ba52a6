#include "flash_analysis.h"

#include <algorithm>
#include <cmath>

namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

constexpr Rgb kBackground{16, 16, 24};
constexpr Rgb kGrid{60, 60, 70};
constexpr Rgb kLimit{220, 40, 40};
constexpr Rgb kBar{120, 180, 255};

class Canvas {
public:
  Canvas(int width, int height) : width(width), height(height), rgb(3u * width * height) {
    fill(0, 0, width, height, kBackground);
  }
  // The rectangle from (x0, y0) to before (x1, y1), clipped to the canvas.
  void fill(int x0, int y0, int x1, int y1, Rgb colour) {
    for (int y = std::max(0, y0); y < std::min(height, y1); ++y)
      for (int x = std::max(0, x0); x < std::min(width, x1); ++x) {
        std::uint8_t* pixel = &rgb[3 * (static_cast<std::size_t>(y) * width + x)];
        pixel[0] = colour.r;
        pixel[1] = colour.g;
        pixel[2] = colour.b;
      }
  }
  const int width, height;
  std::vector<std::uint8_t> rgb;
};

// One panel between rows `top` and `bottom`: a column per time slice, as high
// as the slice's largest value (`most` fills the panel), with grey lines at
// every `gridStep` and a red line at `limit`.
void drawPanel(Canvas& canvas, int top, int bottom, const std::vector<double>& values, double most,
               double gridStep, double limit) {
  const int height = bottom - top;
  auto rowOf = [&](double value) {
    return bottom - 1 - static_cast<int>(std::lround(value / most * (height - 1)));
  };
  for (double level = gridStep; level < most; level += gridStep)
    canvas.fill(0, rowOf(level), canvas.width, rowOf(level) + 1, kGrid);
  for (int x = 0; x < canvas.width; ++x)
    if (values[x] > 0.0)
      canvas.fill(x, rowOf(std::min(values[x], most)), x + 1, bottom, kBar);
  canvas.fill(0, rowOf(limit), canvas.width, rowOf(limit) + 1, kLimit);
}

} // namespace

std::vector<std::uint8_t> plotFlashes(const std::vector<SecondOfFlashes>& seconds,
                                      int framesPerSecond, const FlashLimits& limits, int width,
                                      int height) {
  Canvas canvas(width, height);
  const std::size_t count = std::max<std::size_t>(seconds.size(), 1);
  // Each column shows the worst of the seconds that fall on it, and every
  // column gets at least one.
  std::vector<double> flashes(width, 0.0), shares(width, 0.0);
  for (int x = 0; x < width && !seconds.empty(); ++x) {
    const std::size_t first = static_cast<std::size_t>(x) * count / width;
    const std::size_t last = std::max(first + 1, static_cast<std::size_t>(x + 1) * count / width);
    for (std::size_t i = first; i < last; ++i) {
      flashes[x] = std::max(flashes[x], static_cast<double>(seconds[i].flashes));
      shares[x] = std::max(shares[x], seconds[i].shareOverLimit);
    }
  }
  // Ten seconds apart, across both panels.
  const double secondsShown = static_cast<double>(count) / framesPerSecond;
  for (double at = 10.0; at < secondsShown; at += 10.0) {
    const int x = static_cast<int>(at / secondsShown * width);
    canvas.fill(x, 0, x + 1, height, kGrid);
  }
  const int split = height * 3 / 5;
  const double mostFlashes = std::max(2.0 * (limits.mostFlashesPerSecond + 1),
                                      *std::max_element(flashes.begin(), flashes.end()) + 1.0);
  drawPanel(canvas, 0, split - 2, flashes, mostFlashes, 1.0, limits.mostFlashesPerSecond);
  canvas.fill(0, split - 2, width, split, kBackground);
  drawPanel(canvas, split, height, shares, 1.0, 0.25, limits.largestShareOfField);
  return canvas.rgb;
}
