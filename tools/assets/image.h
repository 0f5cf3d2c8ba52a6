// A floating-point RGB picture and the drawing steps the textures need.
#pragma once

#include <string>
#include <vector>

namespace assets_gen {

struct Rgb {
  float r = 0.0f, g = 0.0f, b = 0.0f;
};

Rgb operator+(Rgb a, Rgb b);
Rgb operator*(Rgb colour, float scale);
Rgb mix(Rgb a, Rgb b, float amount);

// One channel of coverage (0 = empty, 1 = fully covered), e.g. rendered text.
struct Mask {
  int width = 0, height = 0;
  std::vector<float> values;

  Mask() = default;
  Mask(int w, int h) : width(w), height(h), values(static_cast<size_t>(w) * h, 0.0f) {}
  float at(int x, int y) const;
  float& operator()(int x, int y) { return values[static_cast<size_t>(y) * width + x]; }
};

// A separable box blur repeated three times, close to a Gaussian of the
// given radius in pixels.
Mask blur(const Mask& mask, int radius);

class Image {
public:
  Image(int width, int height);
  Rgb& operator()(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
  const Rgb& operator()(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }

  // Adds `colour(x, y)` weighted by the mask, whose top-left corner lands at
  // (left, top); parts outside the picture are clipped.
  template <typename ColourAt> void addMask(const Mask& mask, int left, int top, ColourAt colour);

  // Writes an 8-bit RGB PNG, values clamped to [0, 1]. No time stamp or
  // other variable chunk is written, so equal pictures give equal files.
  void writePng(const std::string& path) const;

private:
  int width, height;
  std::vector<Rgb> pixels;
};

template <typename ColourAt>
void Image::addMask(const Mask& mask, int left, int top, ColourAt colour) {
  for (int y = 0; y < mask.height; ++y) {
    int imageY = top + y;
    if (imageY < 0 || imageY >= height)
      continue;
    for (int x = 0; x < mask.width; ++x) {
      int imageX = left + x;
      float coverage = mask.at(x, y);
      if (imageX < 0 || imageX >= width || coverage <= 0.0f)
        continue;
      (*this)(imageX, imageY) = (*this)(imageX, imageY) + colour(imageX, imageY) * coverage;
    }
  }
}

} // namespace assets_gen
