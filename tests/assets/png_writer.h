#pragma once

#include <cstdint>
#include <png.h>
#include <vector>

// Test images written by libpng itself, into memory.
struct PngImage {
  uint32_t width = 1;
  uint32_t height = 1;
  int colorType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  std::vector<std::vector<uint8_t>> rows; // packed as stored, top row first
  std::vector<png_color> palette;
  std::vector<uint8_t> paletteAlpha; // a tRNS chunk when not empty
  bool interlaced = false;
};

inline std::vector<uint8_t> encodePng(const PngImage& image) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t length) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), data, data + length);
      },
      nullptr);
  png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colorType,
               image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!image.palette.empty()) {
    png_set_PLTE(png, info, image.palette.data(), int(image.palette.size()));
  }
  if (!image.paletteAlpha.empty()) {
    png_set_tRNS(png, info, image.paletteAlpha.data(), int(image.paletteAlpha.size()), nullptr);
  }
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (const auto& row : image.rows) {
    rows.push_back(const_cast<png_bytep>(row.data()));
  }
  png_write_image(png, rows.data()); // passes over the rows when interlaced
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}
