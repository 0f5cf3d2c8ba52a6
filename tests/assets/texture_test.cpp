#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "assets/resource_cache.h"
#include "assets/texture.h"
#include "png_writer.h"
#include "test_files.h"

namespace {

using Rgba = std::array<uint8_t, 4>;

class TextureLoadTest : public testing::Test {
protected:
  Texture* load(const std::vector<uint8_t>& bytes) {
    texture.reset(ResourceCache<Texture>::load(dir.write("test.png", bytes)));
    return texture.get();
  }

  std::string failureOf(const std::vector<uint8_t>& bytes) {
    try {
      load(bytes);
    } catch (const std::string& error) {
      return error;
    }
    return {};
  }

  Rgba pixel(int x, int y) const {
    Rgba rgba;
    std::memcpy(rgba.data(), &texture->pixels[size_t(y) * size_t(texture->width) + size_t(x)], 4);
    return rgba;
  }

  TempDir dir;
  std::unique_ptr<Texture> texture;
};

// 3 x 2 pixels: the top row red, green, blue; the bottom row three greys.
PngImage rgbImage(int bitDepth) {
  PngImage image;
  image.width = 3;
  image.height = 2;
  image.bitDepth = bitDepth;
  const std::vector<std::vector<uint8_t>> samples = {{250, 0, 0, 0, 251, 0, 0, 0, 252},
                                                     {10, 10, 10, 20, 20, 20, 30, 30, 30}};
  for (const auto& row : samples) {
    std::vector<uint8_t> packed;
    for (uint8_t s : row) {
      packed.push_back(s);
      if (bitDepth == 16) {
        packed.push_back(0x7F); // the low byte, which must be dropped
      }
    }
    image.rows.push_back(packed);
  }
  return image;
}

TEST_F(TextureLoadTest, RgbGetsOpaqueAlphaAndKeepsTopRowFirst) {
  Texture* t = load(encodePng(rgbImage(8)));
  ASSERT_EQ(t->width, 3);
  ASSERT_EQ(t->height, 2);
  EXPECT_EQ(t->glName, Texture::noGlName);
  EXPECT_EQ(pixel(0, 0), (Rgba{250, 0, 0, 255}));
  EXPECT_EQ(pixel(1, 0), (Rgba{0, 251, 0, 255}));
  EXPECT_EQ(pixel(2, 0), (Rgba{0, 0, 252, 255}));
  EXPECT_EQ(pixel(0, 1), (Rgba{10, 10, 10, 255}));
  EXPECT_EQ(pixel(2, 1), (Rgba{30, 30, 30, 255}));
}

TEST_F(TextureLoadTest, SixteenBitSamplesKeepTheirHighByte) {
  load(encodePng(rgbImage(16)));
  EXPECT_EQ(pixel(0, 0), (Rgba{250, 0, 0, 255}));
  EXPECT_EQ(pixel(1, 1), (Rgba{20, 20, 20, 255}));

  PngImage rgba;
  rgba.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  rgba.bitDepth = 16;
  rgba.rows = {{1, 2, 3, 4, 5, 6, 7, 8}};
  load(encodePng(rgba));
  EXPECT_EQ(pixel(0, 0), (Rgba{1, 3, 5, 7}));
}

TEST_F(TextureLoadTest, RgbaKeepsItsAlpha) {
  PngImage image;
  image.width = 2;
  image.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  image.rows = {{9, 8, 7, 0, 1, 2, 3, 128}};
  load(encodePng(image));
  EXPECT_EQ(pixel(0, 0), (Rgba{9, 8, 7, 0}));
  EXPECT_EQ(pixel(1, 0), (Rgba{1, 2, 3, 128}));
}

PngImage paletteImage(int bitDepth) {
  PngImage image;
  image.width = 4;
  image.colorType = PNG_COLOR_TYPE_PALETTE;
  image.bitDepth = bitDepth;
  image.palette = {{200, 100, 50}, {1, 2, 3}, {40, 50, 60}};
  // Pixels use entries 0, 1, 2, 1.
  image.rows = {bitDepth == 8 ? std::vector<uint8_t>{0, 1, 2, 1}
                              : std::vector<uint8_t>{0x01, 0x21}};
  return image;
}

TEST_F(TextureLoadTest, PaletteColoursComeWithAlphaZero) {
  for (int bitDepth : {8, 4}) {
    load(encodePng(paletteImage(bitDepth)));
    EXPECT_EQ(pixel(0, 0), (Rgba{200, 100, 50, 0})) << bitDepth;
    EXPECT_EQ(pixel(1, 0), (Rgba{1, 2, 3, 0})) << bitDepth;
    EXPECT_EQ(pixel(2, 0), (Rgba{40, 50, 60, 0})) << bitDepth;
    EXPECT_EQ(pixel(3, 0), (Rgba{1, 2, 3, 0})) << bitDepth;
  }
}

TEST_F(TextureLoadTest, PaletteTransparencyChunkGivesTheAlpha) {
  PngImage image = paletteImage(8);
  image.paletteAlpha = {77, 0}; // entry 2 has no alpha in the chunk: opaque
  load(encodePng(image));
  EXPECT_EQ(pixel(0, 0), (Rgba{200, 100, 50, 77}));
  EXPECT_EQ(pixel(1, 0), (Rgba{1, 2, 3, 0}));
  EXPECT_EQ(pixel(2, 0), (Rgba{40, 50, 60, 255}));
}

TEST_F(TextureLoadTest, GreyBecomesOpaqueGreyRgb) {
  PngImage grey;
  grey.width = 3;
  grey.colorType = PNG_COLOR_TYPE_GRAY;
  grey.rows = {{0, 99, 255}};
  load(encodePng(grey));
  EXPECT_EQ(pixel(0, 0), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(pixel(1, 0), (Rgba{99, 99, 99, 255}));
  EXPECT_EQ(pixel(2, 0), (Rgba{255, 255, 255, 255}));

  grey.bitDepth = 1;
  grey.rows = {{0b10100000}};
  load(encodePng(grey));
  EXPECT_EQ(pixel(0, 0), (Rgba{255, 255, 255, 255}));
  EXPECT_EQ(pixel(1, 0), (Rgba{0, 0, 0, 255}));

  grey.bitDepth = 16;
  grey.rows = {{0x12, 0x34, 0xAB, 0xCD, 0, 1}};
  load(encodePng(grey));
  EXPECT_EQ(pixel(1, 0), (Rgba{0xAB, 0xAB, 0xAB, 255}));
}

TEST_F(TextureLoadTest, GreyAlphaKeepsItsAlpha) {
  PngImage image;
  image.width = 2;
  image.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
  image.rows = {{60, 7, 200, 255}};
  load(encodePng(image));
  EXPECT_EQ(pixel(0, 0), (Rgba{60, 60, 60, 7}));
  EXPECT_EQ(pixel(1, 0), (Rgba{200, 200, 200, 255}));

  image.bitDepth = 16;
  image.rows = {{60, 1, 7, 1, 200, 1, 255, 1}};
  load(encodePng(image));
  EXPECT_EQ(pixel(0, 0), (Rgba{60, 60, 60, 7}));
}

TEST_F(TextureLoadTest, InterlacedImagesDecodeToTheSamePixels) {
  PngImage image;
  image.width = 9;
  image.height = 9;
  for (uint32_t y = 0; y < image.height; ++y) {
    std::vector<uint8_t> row;
    for (uint32_t x = 0; x < image.width; ++x) {
      row.insert(row.end(), {uint8_t(x * 20), uint8_t(y * 20), uint8_t(x + y)});
    }
    image.rows.push_back(row);
  }
  image.interlaced = true;
  load(encodePng(image));
  EXPECT_EQ(pixel(0, 0), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(pixel(5, 3), (Rgba{100, 60, 8, 255}));
  EXPECT_EQ(pixel(8, 8), (Rgba{160, 160, 16, 255}));
}

TEST_F(TextureLoadTest, FailuresHaveTheirTexts) {
  try {
    ResourceCache<Texture>::load(dir.path("absent.png"));
    FAIL();
  } catch (const std::string& error) {
    EXPECT_EQ(error, "File not found");
  }
  std::vector<uint8_t> bytes = encodePng(rgbImage(8));
  bytes[1] = 'Q';
  EXPECT_EQ(failureOf(bytes), "Not a PNG Texture");
  EXPECT_EQ(failureOf({}), "Not a PNG Texture");
}

TEST_F(TextureLoadTest, TruncatedFilesAreNotAPng) {
  PngImage image;
  image.width = 40;
  image.height = 40;
  for (uint32_t y = 0; y < image.height; ++y) {
    std::vector<uint8_t> row;
    for (uint32_t x = 0; x < 3 * image.width; ++x) {
      row.push_back(uint8_t(x * 7 + y * 13)); // little to compress
    }
    image.rows.push_back(row);
  }
  const std::vector<uint8_t> bytes = encodePng(image);
  for (size_t length = 0; length < bytes.size(); ++length) {
    const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(length));
    EXPECT_EQ(failureOf(prefix), "Not a PNG Texture") << "length " << length;
  }
}

} // namespace
