#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A PNG image decoded to RGBA bytes, top row first, turned into a mipmapped
// GL texture the first time it is bound.
class Texture {
public:
  static constexpr uint32_t kNoGlName = 0xFFFFFFFFu;

  // Allocates width x height pixels without initialising them.
  Texture(int32_t width, int32_t height);
  ~Texture();
  Texture(const Texture&) = delete;
  Texture& operator=(const Texture&) = delete;

  int32_t width;
  int32_t height;
  // One word per pixel holding the bytes red, green, blue, alpha in memory
  // order; pixel (x, y) is word y * width + x, y = 0 being the top row.
  std::unique_ptr<uint32_t[]> pixels;
  uint32_t glName; // kNoGlName until the GL texture exists

  // Creates the GL texture, uploads every mipmap level and returns its name,
  // leaving it bound. Needs a current GL context.
  uint32_t createGlTexture();
  // Binds the texture to GL_TEXTURE_2D, creating it on the first call.
  void bind();
};

// The largest side of a picture, in pixels; larger ones are refused before
// anything is allocated for them, as a few kilobytes of PNG can declare
// gigabytes of pixels. The show draws its pictures over at most the screen,
// which a 4096-pixel side covers even on a 4K desktop, and every GL
// implementation of the last fifteen years takes 4096x4096 textures. A
// picture then holds at most 64 MiB of pixels (as much again while decoded).
inline constexpr uint32_t kLargestPictureSide = 4096;

// Decodes a PNG file into a new texture (no GL texture yet). Throws a
// std::string: "File not found" when the file does not open as a regular file,
// "Out of memory" when libpng cannot start, "Not a PNG Texture" when the file
// does not decode or its picture is larger than kLargestPictureSide a side.
std::unique_ptr<Texture> loadTexture(std::string name);
