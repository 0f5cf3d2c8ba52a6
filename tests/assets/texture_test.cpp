#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "assets/texture.h"
#include "png_writer.h"
#include "test_files.h"
#include "unwritten_fifo.h"

namespace {

using Rgba = std::array<uint8_t, 4>;

PngImage image(int colorType, int bitDepth, uint32_t width,
               std::vector<std::vector<uint8_t>> rows) {
  PngImage png;
  png.colorType = colorType;
  png.bitDepth = bitDepth;
  png.width = width;
  png.height = uint32_t(rows.size());
  png.rows = std::move(rows);
  return png;
}

PngImage palette(int bitDepth, std::vector<uint8_t> alpha) {
  PngImage png =
      image(PNG_COLOR_TYPE_PALETTE, bitDepth, 3,
            {bitDepth == 8 ? std::vector<uint8_t>{0, 1, 2} : std::vector<uint8_t>{0x01, 0x20}});
  png.palette = {{200, 100, 50}, {1, 2, 3}, {40, 50, 60}};
  png.paletteAlpha = std::move(alpha);
  return png;
}

struct Case {
  const char* what;
  PngImage png;
  std::vector<Rgba> pixels; // row by row from the top left
};

class TextureLoadTest : public testing::Test {
protected:
  std::string failureFor(const std::vector<uint8_t>& bytes) {
    return failureOf([&] { texture = loadTexture(dir.write("t.png", bytes)); });
  }
  TempDir dir;
  std::unique_ptr<Texture> texture;
};

TEST_F(TextureLoadTest, EveryColourTypeBecomesRgbaTopRowFirst) {
  PngImage interlaced = image(PNG_COLOR_TYPE_RGB, 8, 9, {});
  std::vector<Rgba> interlacedPixels;
  for (uint8_t y = 0; y < 9; ++y) {
    interlaced.rows.emplace_back();
    for (uint8_t x = 0; x < 9; ++x) {
      interlaced.rows.back().insert(interlaced.rows.back().end(), {x, y, uint8_t(x * y)});
      interlacedPixels.push_back({x, y, uint8_t(x * y), 255});
    }
  }
  interlaced.height = 9;
  interlaced.interlaced = true;

  const Case cases[] = {
      {"rgb",
       image(PNG_COLOR_TYPE_RGB, 8, 2, {{250, 0, 0, 0, 251, 0}, {1, 2, 3, 4, 5, 6}}),
       {{250, 0, 0, 255}, {0, 251, 0, 255}, {1, 2, 3, 255}, {4, 5, 6, 255}}},
      {"rgb16 keeps high bytes",
       image(PNG_COLOR_TYPE_RGB, 16, 1, {{9, 1, 8, 2, 7, 3}}),
       {{9, 8, 7, 255}}},
      {"rgba",
       image(PNG_COLOR_TYPE_RGB_ALPHA, 8, 2, {{9, 8, 7, 0, 1, 2, 3, 128}}),
       {{9, 8, 7, 0}, {1, 2, 3, 128}}},
      {"rgba16",
       image(PNG_COLOR_TYPE_RGB_ALPHA, 16, 1, {{1, 2, 3, 4, 5, 6, 7, 8}}),
       {{1, 3, 5, 7}}},
      {"palette: alpha 0", palette(8, {}), {{200, 100, 50, 0}, {1, 2, 3, 0}, {40, 50, 60, 0}}},
      {"4-bit palette", palette(4, {}), {{200, 100, 50, 0}, {1, 2, 3, 0}, {40, 50, 60, 0}}},
      {"palette with transparency",
       palette(8, {77, 0}),
       {{200, 100, 50, 77}, {1, 2, 3, 0}, {40, 50, 60, 255}}},
      {"grey", image(PNG_COLOR_TYPE_GRAY, 8, 2, {{0, 99}}), {{0, 0, 0, 255}, {99, 99, 99, 255}}},
      {"1-bit grey",
       image(PNG_COLOR_TYPE_GRAY, 1, 2, {{0x80}}),
       {{255, 255, 255, 255}, {0, 0, 0, 255}}},
      {"16-bit grey", image(PNG_COLOR_TYPE_GRAY, 16, 1, {{0xAB, 0xCD}}), {{171, 171, 171, 255}}},
      {"grey-alpha", image(PNG_COLOR_TYPE_GRAY_ALPHA, 8, 1, {{60, 7}}), {{60, 60, 60, 7}}},
      {"16-bit grey-alpha",
       image(PNG_COLOR_TYPE_GRAY_ALPHA, 16, 1, {{60, 1, 7, 1}}),
       {{60, 60, 60, 7}}},
      {"interlaced", interlaced, interlacedPixels}};

  for (const Case& c : cases) {
    ASSERT_EQ(failureFor(encodePng(c.png)), "") << c.what;
    EXPECT_EQ(texture->width, int32_t(c.png.width)) << c.what;
    EXPECT_EQ(texture->height, int32_t(c.png.height)) << c.what;
    EXPECT_EQ(texture->glName, Texture::kNoGlName);
    for (size_t i = 0; i < c.pixels.size(); ++i) {
      Rgba pixel;
      std::memcpy(pixel.data(), &texture->pixels[i], 4);
      EXPECT_EQ(pixel, c.pixels[i]) << c.what << " pixel " << i;
    }
  }
}

TEST_F(TextureLoadTest, DamagedFilesAreNotAPng) {
  EXPECT_EQ(failureOf([&] { loadTexture(dir.file("absent.png")); }), "File not found");
  const UnwrittenFifo fifo(dir / "fifo.png");
  EXPECT_EQ(failureOf([&] { loadTexture(dir.file("fifo.png")); }), "File not found");
  EXPECT_FALSE(fifo.waitedOn());
  PngImage noisy = image(PNG_COLOR_TYPE_RGB, 8, 20, {});
  for (int y = 0; y < 20; ++y) {
    noisy.rows.emplace_back();
    for (int x = 0; x < 60; ++x) {
      noisy.rows.back().push_back(uint8_t(x * 7 + y * 13)); // little to compress
    }
  }
  noisy.height = 20;
  std::vector<uint8_t> bytes = encodePng(noisy);
  for (size_t length = 0; length < bytes.size(); ++length) {
    EXPECT_EQ(failureFor({bytes.begin(), bytes.begin() + long(length)}), "Not a PNG Texture")
        << length;
  }
  bytes[1] = 'Q';
  EXPECT_EQ(failureFor(bytes), "Not a PNG Texture");
}

// Refused as the header is read, before the pixels are allocated: a PNG of
// a few kilobytes may declare gigabytes of them.
TEST_F(TextureLoadTest, PicturesOverTheLargestSideAreRefused) {
  auto blank = [](uint32_t width, uint32_t height) {
    return encodePng(image(PNG_COLOR_TYPE_GRAY, 1, width,
                           std::vector(height, std::vector<uint8_t>((width + 7) / 8))));
  };
  const uint32_t side = kLargestPictureSide;
  EXPECT_EQ(failureFor(blank(side, 1)), "");
  EXPECT_EQ(failureFor(blank(1, side)), "");
  EXPECT_EQ(failureFor(blank(side + 1, 1)), "Not a PNG Texture");
  EXPECT_EQ(failureFor(blank(1, side + 1)), "Not a PNG Texture");
}

} // namespace
