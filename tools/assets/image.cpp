#include "image.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
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
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height) {}

namespace {

using File = std::unique_ptr<FILE, decltype(&std::fclose)>;

uint8_t toByte(float value) {
  return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
}

// The libpng write state, destroyed however writing ends.
struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngWriter() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png)
      info = png_create_info_struct(png);
    if (!png || !info) {
      png_destroy_write_struct(&png, &info);
      throw std::runtime_error("out of memory for the PNG writer");
    }
  }
  ~PngWriter() { png_destroy_write_struct(&png, &info); }
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
};

// libpng reports errors by long-jumping back here; this frame holds no
// object that the jump could leave half-updated, and reports the failure
// by its result.
bool encodePng(PngWriter& writer, FILE* file, png_uint_32 width, png_uint_32 height,
               png_bytepp rows) {
  if (setjmp(png_jmpbuf(writer.png)))
    return false;
  png_init_io(writer.png, file);
  png_set_compression_level(writer.png, 9);
  png_set_IHDR(writer.png, writer.info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(writer.png, writer.info);
  png_write_image(writer.png, rows);
  png_write_end(writer.png, nullptr);
  return true;
}

} // namespace

void Image::writePng(const std::string& path) const {
  std::vector<uint8_t> bytes(static_cast<size_t>(width_) * height_ * 3);
  for (size_t i = 0; i < pixels_.size(); ++i) {
    bytes[3 * i] = toByte(pixels_[i].r);
    bytes[3 * i + 1] = toByte(pixels_[i].g);
    bytes[3 * i + 2] = toByte(pixels_[i].b);
  }
  std::vector<png_bytep> rows(static_cast<size_t>(height_));
  for (int y = 0; y < height_; ++y)
    rows[static_cast<size_t>(y)] = bytes.data() + static_cast<size_t>(y) * width_ * 3;

  File file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file)
    throw std::runtime_error("cannot create " + path);
  PngWriter writer;
  bool written = encodePng(writer, file.get(), static_cast<png_uint_32>(width_),
                           static_cast<png_uint_32>(height_), rows.data());
  if (!written || std::fclose(file.release()) != 0)
    throw std::runtime_error("cannot write " + path);
}

} // namespace assets_gen
