#include "image.h"
#include "pictures.h"
#include "temp_dir.h"
#include "text.h"

#include "assets/texture.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using namespace assets_gen;

namespace {

struct Pixel {
  int r, g, b;
};

Pixel pixelAt(const Texture& texture, int x, int y) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&texture.pixels[y * texture.width + x]);
  return {bytes[0], bytes[1], bytes[2]};
}

int brightness(Pixel p) {
  return std::max({p.r, p.g, p.b});
}

} // namespace

TEST(Text, SqueezedTextIsNarrowerButAsTall) {
  Font font(kFontPath);
  Mask normal = font.render("viriz", 100, 1.0f);
  Mask squeezed = font.render("viriz", 100, 0.75f);
  ASSERT_GT(normal.width, 100);
  EXPECT_NEAR(squeezed.width, normal.width * 0.75, normal.width * 0.05);
  EXPECT_EQ(squeezed.height, normal.height);
  float ink = 0.0f;
  for (float value : normal.values) {
    ASSERT_GE(value, 0.0f);
    ASSERT_LE(value, 1.0f);
    ink += value;
  }
  EXPECT_GT(ink, 0.1f * normal.width * normal.height);
}

TEST(Text, WordsOfOneSizeShareTheLineHeight) {
  // "graphics" reaches below the baseline, "code" does not; both masks must
  // still have the same height so that lines can be set side by side.
  Font font(kFontPath);
  EXPECT_EQ(font.render("graphics", 40, 0.75f).height, font.render("code", 40, 0.75f).height);
  EXPECT_EQ(font.render("", 40, 0.75f).width, 0);
  EXPECT_EQ(font.render(" ", 40, 0.75f).values.size(), 0u);
}

TEST(Text, MissingFontIsAnError) {
  EXPECT_THROW(Font("/nonexistent/font.ttf"), std::runtime_error);
}

TEST(Image, BlurSpreadsButKeepsTheInk) {
  Mask dot(41, 41);
  dot(20, 20) = 1.0f;
  Mask soft = blur(dot, 3);
  float total = 0.0f;
  for (float value : soft.values)
    total += value;
  EXPECT_NEAR(total, 1.0f, 1e-4f);
  EXPECT_LT(soft.at(20, 20), 0.1f);
  EXPECT_GT(soft.at(20, 20), soft.at(23, 20));
  EXPECT_FLOAT_EQ(soft.at(17, 20), soft.at(23, 20));
  EXPECT_FLOAT_EQ(soft.at(20, 17), soft.at(20, 23));
  EXPECT_EQ(soft.at(20, 10), 0.0f);
}

TEST(Image, MasksAreClippedAtThePictureEdges) {
  Image image(8, 8);
  Mask full(6, 6);
  for (float& value : full.values)
    value = 1.0f;
  image.addMask(full, -3, 5, [](int, int) { return Rgb{1.0f, 0.5f, 0.25f}; });
  EXPECT_FLOAT_EQ(image(0, 7).r, 1.0f);
  EXPECT_FLOAT_EQ(image(2, 5).g, 0.5f);
  EXPECT_FLOAT_EQ(image(3, 5).r, 0.0f);
  EXPECT_FLOAT_EQ(image(0, 4).r, 0.0f);
}

TEST(Image, PngRoundTripsThroughTheDemoLoader) {
  TempDir dir;
  Image image(3, 2);
  image(0, 0) = {1.0f, 0.0f, 0.0f};
  image(2, 1) = {0.0f, 0.5f, 2.0f}; // out-of-range values are clamped
  image.writePng(dir.file("small.png"));
  auto texture = loadTexture(dir.file("small.png"));
  ASSERT_EQ(texture->width, 3);
  ASSERT_EQ(texture->height, 2);
  Pixel topLeft = pixelAt(*texture, 0, 0);
  Pixel bottomRight = pixelAt(*texture, 2, 1);
  EXPECT_EQ(topLeft.r, 255);
  EXPECT_EQ(topLeft.g, 0);
  EXPECT_EQ(bottomRight.g, 128);
  EXPECT_EQ(bottomRight.b, 255);
  EXPECT_EQ(brightness(pixelAt(*texture, 1, 0)), 0);
  EXPECT_THROW(image.writePng(dir.file("missing-dir/small.png")), std::runtime_error);
}

TEST(Pictures, EnvironmentMapIsBrightColourfulAndSmooth) {
  TempDir dir;
  environmentMap(256).writePng(dir.file("tex.png"));
  auto texture = loadTexture(dir.file("tex.png"));
  ASSERT_EQ(texture->width, 256);
  ASSERT_EQ(texture->height, 256);
  int largestStep = 0, darkest = 255;
  bool reddish = false, bluish = false;
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      Pixel p = pixelAt(*texture, x, y);
      darkest = std::min(darkest, brightness(p));
      reddish |= p.r > p.b + 60;
      bluish |= p.b > p.r + 60;
      if (x > 0) {
        Pixel left = pixelAt(*texture, x - 1, y);
        largestStep = std::max(
            {largestStep, std::abs(p.r - left.r), std::abs(p.g - left.g), std::abs(p.b - left.b)});
      }
    }
  }
  EXPECT_GT(darkest, 20) << "a reflection should never go black";
  EXPECT_TRUE(reddish && bluish) << "warm and cool light";
  EXPECT_LT(largestStep, 40) << "no seams or speckles";
  // Outside the disc the map repeats the rim, so the corners match.
  Pixel corner = pixelAt(*texture, 0, 0), otherCorner = pixelAt(*texture, 255, 255);
  EXPECT_LE(std::abs(corner.r - otherCorner.r) + std::abs(corner.b - otherCorner.b), 6);
}

namespace {

// The fraction of black texels and the number of bright ones, and whether
// the outer border is black everywhere.
struct OverlayCoverage {
  double blackFraction = 0.0;
  int brightTexels = 0;
  bool blackBorder = true;
};

OverlayCoverage measureOverlay(const Texture& texture) {
  OverlayCoverage coverage;
  int black = 0;
  for (int y = 0; y < texture.height; ++y)
    for (int x = 0; x < texture.width; ++x) {
      int value = brightness(pixelAt(texture, x, y));
      black += value == 0;
      coverage.brightTexels += value > 180;
      bool border = x < 4 || y < 4 || x >= texture.width - 4 || y >= texture.height - 4;
      if (border && value != 0)
        coverage.blackBorder = false;
    }
  coverage.blackFraction = static_cast<double>(black) / (texture.width * texture.height);
  return coverage;
}

} // namespace

TEST(Pictures, OverlaysAreTextOnBlack) {
  TempDir dir;
  Font font(kFontPath);
  logoOverlay(font, 512).writePng(dir.file("logo.png"));
  creditsOverlay(font, 512).writePng(dir.file("creds.png"));
  for (const char* name : {"logo.png", "creds.png"}) {
    SCOPED_TRACE(name);
    auto texture = loadTexture(dir.file(name));
    ASSERT_EQ(texture->width, 512);
    ASSERT_EQ(texture->height, 512);
    OverlayCoverage coverage = measureOverlay(*texture);
    EXPECT_TRUE(coverage.blackBorder);
    EXPECT_GT(coverage.blackFraction, 0.5) << "an overlay must leave most of the frame alone";
    EXPECT_GT(coverage.brightTexels, 2000) << "the lettering must be visible";
  }
}
