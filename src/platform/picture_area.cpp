// The letterbox arithmetic of the platform layer, shared by both backends.
#include "platform/gl_window.h"

#include <cstdint>

PictureArea fitPicture(int pictureWidth, int pictureHeight, int areaWidth, int areaHeight) {
  if (pictureWidth <= 0 || pictureHeight <= 0 || areaWidth <= 0 || areaHeight <= 0)
    return {0, 0, areaWidth > 0 ? areaWidth : 0, areaHeight > 0 ? areaHeight : 0};
  // Products in 64 bits: a large area times a large picture overflows int.
  const std::int64_t wide = std::int64_t{areaWidth} * pictureHeight;
  const std::int64_t tall = std::int64_t{areaHeight} * pictureWidth;
  PictureArea area;
  if (wide >= tall) {
    // Wider than the picture (or the same shape): bars left and right.
    area.height = areaHeight;
    area.width = static_cast<int>((tall + pictureHeight / 2) / pictureHeight);
  } else {
    // Taller: bars above and below.
    area.width = areaWidth;
    area.height = static_cast<int>((wide + pictureWidth / 2) / pictureWidth);
  }
  area.x = (areaWidth - area.width) / 2;
  area.y = (areaHeight - area.height) / 2;
  return area;
}
