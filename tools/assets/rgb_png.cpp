#include "rgb_png.h"

#include <png.h>

#include <cstdio>

namespace {

// The libpng write state, destroyed however writing ends.
struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngWriter() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png)
      info = png_create_info_struct(png);
  }
  ~PngWriter() { png_destroy_write_struct(&png, &info); }
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
};

// libpng reports errors by long-jumping back here; this frame holds no
// object that the jump could leave half-updated, and reports the failure
// by its result.
bool encodePng(PngWriter& writer, FILE* file, png_uint_32 width, png_uint_32 height,
               png_bytepp rows, int compressionLevel) {
  if (setjmp(png_jmpbuf(writer.png)))
    return false;
  png_init_io(writer.png, file);
  png_set_compression_level(writer.png, compressionLevel);
  png_set_IHDR(writer.png, writer.info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(writer.png, writer.info);
  png_write_image(writer.png, rows);
  png_write_end(writer.png, nullptr);
  return true;
}

} // namespace

bool writeRgbPng(const std::string& path, const std::vector<std::uint8_t>& rgb, int width,
                 int height, int compressionLevel) {
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y)
    rows[static_cast<size_t>(y)] =
        const_cast<png_bytep>(rgb.data()) + static_cast<size_t>(y) * width * 3;

  PngWriter writer;
  if (!writer.info)
    return false;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file)
    return false;
  bool written = encodePng(writer, file, static_cast<png_uint_32>(width),
                           static_cast<png_uint_32>(height), rows.data(), compressionLevel);
  return std::fclose(file) == 0 && written;
}
