#include "image.h"

#include "rgb_png.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace assets_gen {

Rgb operator+(Rgb a, Rgb b) {
  return {a.r + b.r, a.g + b.g, a.b + b.b};
}
Rgb operator*(Rgb colour, float scale) {
  return {colour.r * scale, colour.g * scale, colour.b * scale};
}
Rgb mix(Rgb a, Rgb b, float amount) {
  return a * (1.0f - amount) + b * amount;
}

float Mask::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height)
    return 0.0f;
  return values[static_cast<size_t>(y) * width + x];
}

namespace {

// One box-blur pass along rows (step 1) or columns (step width), with the
// area outside the mask counted as empty.
void boxPass(const Mask& source, Mask& target, int radius, bool alongRows) {
  int lines = alongRows ? source.height : source.width;
  int length = alongRows ? source.width : source.height;
  float scale = 1.0f / static_cast<float>(2 * radius + 1);
  for (int line = 0; line < lines; ++line) {
    auto sample = [&](int i) { return alongRows ? source.at(i, line) : source.at(line, i); };
    float sum = 0.0f;
    for (int i = -radius; i <= radius; ++i)
      sum += sample(i);
    for (int i = 0; i < length; ++i) {
      (alongRows ? target(i, line) : target(line, i)) = sum * scale;
      sum += sample(i + radius + 1) - sample(i - radius);
    }
  }
}

} // namespace

Mask blur(const Mask& mask, int radius) {
  Mask current = mask;
  Mask scratch(mask.width, mask.height);
  for (int pass = 0; pass < 3; ++pass) {
    boxPass(current, scratch, radius, true);
    boxPass(scratch, current, radius, false);
  }
  return current;
}

Image::Image(int width, int height)
    : width(width), height(height), pixels(static_cast<size_t>(width) * height) {}

namespace {

uint8_t toByte(float value) {
  return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
}

} // namespace

void Image::writePng(const std::string& path) const {
  std::vector<uint8_t> bytes(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < pixels.size(); ++i) {
    bytes[3 * i] = toByte(pixels[i].r);
    bytes[3 * i + 1] = toByte(pixels[i].g);
    bytes[3 * i + 2] = toByte(pixels[i].b);
  }
  if (!writeRgbPng(path, bytes, width, height))
    throw std::runtime_error("cannot write " + path);
}

} // namespace assets_gen
