#pragma once

#include <array>
#include <cstdint>
#include <vector>

// A current OpenGL compatibility context without any display, for tests:
// Mesa's surfaceless EGL platform with a pbuffer of the given size (640x480
// by default, the demo's window), RGBA8 with a 24-bit depth buffer. The
// viewport covers the pbuffer. Construction throws std::runtime_error when no
// such context can be made; destruction releases it.
class GlTestContext {
public:
  explicit GlTestContext(int width = 640, int height = 480);
  ~GlTestContext();
  GlTestContext(const GlTestContext&) = delete;
  GlTestContext& operator=(const GlTestContext&) = delete;

  int width() const { return surfaceWidth; }
  int height() const { return surfaceHeight; }

  // Finishes drawing and reads one pixel as red, green, blue, alpha. x and y
  // count from the bottom-left corner, as GL does.
  std::array<uint8_t, 4> pixel(int x, int y) const;
  // Every pixel, RGBA rows bottom row first.
  std::vector<uint8_t> readPixels() const;

private:
  void release();

  void* display = nullptr;
  void* surface = nullptr;
  void* context = nullptr;
  int surfaceWidth;
  int surfaceHeight;
};
