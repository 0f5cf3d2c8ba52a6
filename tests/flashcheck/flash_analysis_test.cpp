// The flash rule on synthetic pictures fed straight to the analysis.
#include "flash_analysis.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480, kRate = 60;
constexpr int kFieldPixels = 213 * 160;

struct Rect {
  int left, top, width, height;
};

// A picture of `background` grey with a rectangle of `level` grey.
std::vector<std::uint8_t> picture(std::uint8_t background, std::uint8_t level, Rect rect) {
  std::vector<std::uint8_t> rgb(3u * kWidth * kHeight, background);
  for (int y = rect.top; y < rect.top + rect.height; ++y)
    for (int x = rect.left; x < rect.left + rect.width; ++x)
      for (int c = 0; c < 3; ++c)
        rgb[3u * (static_cast<unsigned>(y) * kWidth + x) + c] = level;
  return rgb;
}

const Rect kWholePicture{0, 0, kWidth, kHeight};

// `seconds` of pictures at 60 a second, each made by `at(frame)`.
FlashAnalysis analyse(double seconds,
                      const std::function<std::vector<std::uint8_t>(int frame)>& at) {
  FlashAnalysis analysis(kWidth, kHeight, kRate);
  for (int frame = 0; frame < static_cast<int>(seconds * kRate); ++frame)
    analysis.addPicture(at(frame));
  return analysis;
}

// The rectangle switching between two greys `hertz` times a second (one
// flash each time), starting at the lower grey.
FlashAnalysis flashing(double hertz, std::uint8_t low, std::uint8_t high, Rect rect,
                       double seconds = 2.0) {
  const std::vector<std::uint8_t> dark = picture(0, low, rect);
  const std::vector<std::uint8_t> bright = picture(0, high, rect);
  return analyse(seconds, [&](int frame) {
    const bool lit = static_cast<int>(frame * 2 * hertz / kRate) % 2 == 1;
    return lit ? bright : dark;
  });
}

TEST(FlashAnalysis, LuminanceFollowsTheSrgbCurveAndTheChannelWeights) {
  EXPECT_FLOAT_EQ(relativeLuminance(0, 0, 0), 0.0f);
  EXPECT_NEAR(relativeLuminance(255, 255, 255), 1.0f, 1e-6f);
  EXPECT_NEAR(relativeLuminance(128, 128, 128), 0.2158f, 1e-4f);
  EXPECT_NEAR(relativeLuminance(255, 0, 0), 0.2126f, 1e-6f);
  EXPECT_NEAR(relativeLuminance(0, 255, 0), 0.7152f, 1e-6f);
  EXPECT_NEAR(relativeLuminance(0, 0, 255), 0.0722f, 1e-6f);
}

TEST(FlashAnalysis, FullScreenFlashingFailsAtFourHertzAndPassesAtThree) {
  const FlashSummary four = flashing(4.0, 0, 255, kWholePicture).summary();
  EXPECT_FALSE(four.passes);
  EXPECT_EQ(four.worstFlashes, 4);
  EXPECT_DOUBLE_EQ(four.worstShareOverLimit, 1.0);

  const FlashSummary three = flashing(3.0, 0, 255, kWholePicture).summary();
  EXPECT_TRUE(three.passes);
  EXPECT_EQ(three.worstFlashes, 3);
  EXPECT_EQ(three.secondsOverLimit, 0.0);
  EXPECT_TRUE(three.failingStretches.empty());
}

TEST(FlashAnalysis, FailsOnlyWhenMoreThanAQuarterOfAFieldFlashes) {
  // 20 % and 30 % of a field, flashing five times a second.
  const Rect fifth{300, 200, 107, 64};
  const Rect threeTenths{300, 200, 128, 80};
  ASSERT_NEAR(fifth.width * fifth.height / double(kFieldPixels), 0.20, 0.005);
  ASSERT_NEAR(threeTenths.width * threeTenths.height / double(kFieldPixels), 0.30, 0.005);

  const FlashSummary small = flashing(5.0, 0, 255, fifth).summary();
  EXPECT_TRUE(small.passes);
  EXPECT_NEAR(small.largestShareOverLimit, 0.20, 0.005);
  EXPECT_NEAR(small.worstShareOverLimit, 0.0, 1e-9) << "no second fails, so none is the worst";
  EXPECT_EQ(small.worstFlashes, 0);

  FlashAnalysis large = flashing(5.0, 0, 255, threeTenths);
  EXPECT_FALSE(large.summary().passes);
  EXPECT_EQ(large.summary().worstFlashes, 5);
  EXPECT_NEAR(large.summary().worstShareOverLimit, 0.30, 0.005);
  EXPECT_NEAR(large.seconds().back().shareOverLimit, 0.30, 0.005);
}

TEST(FlashAnalysis, TheSmallAreaIsMeasuredWhereverItSits) {
  // Split over two fields' worth of picture, 20 % lies in each: passes; put
  // together in one corner, 40 %: fails.
  FlashAnalysis apart = analyse(2.0, [](int frame) {
    std::vector<std::uint8_t> rgb(3u * kWidth * kHeight, 0);
    if ((frame / 6) % 2 == 1) {
      rgb = picture(0, 255, {0, 0, 107, 64});
      const std::vector<std::uint8_t> other = picture(0, 255, {533, 416, 107, 64});
      for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] |= other[i];
    }
    return rgb;
  });
  EXPECT_TRUE(apart.summary().passes);
  EXPECT_NEAR(apart.seconds().back().shareOverLimit, 0.20, 0.005);

  const FlashSummary corner = flashing(5.0, 0, 255, {427, 320, 213, 64}).summary();
  EXPECT_FALSE(corner.passes);
  EXPECT_NEAR(corner.worstShareOverLimit, 0.40, 0.005);
}

TEST(FlashAnalysis, ChangesBetweenTwoBrightStatesAreNoFlashes) {
  // 237 is about 0.85 of the light of 255: both at least 0.8.
  ASSERT_GE(relativeLuminance(237, 237, 237), 0.8f);
  ASSERT_GE(relativeLuminance(255, 255, 255) - relativeLuminance(237, 237, 237), 0.1f);
  EXPECT_TRUE(flashing(10.0, 237, 255, kWholePicture).summary().passes);

  // With the darker state just under 0.8, the same change is a flash.
  ASSERT_LT(relativeLuminance(228, 228, 228), 0.8f);
  EXPECT_FALSE(flashing(10.0, 228, 255, kWholePicture).summary().passes);
}

TEST(FlashAnalysis, ChangesUnderATenthAreNoFlashes) {
  // 0.30 to 0.38 of the light, ten times a second.
  ASSERT_LT(relativeLuminance(165, 165, 165) - relativeLuminance(149, 149, 149), 0.1f);
  EXPECT_TRUE(flashing(10.0, 149, 165, kWholePicture).summary().passes);
}

TEST(FlashAnalysis, AChangeSpreadOverManyPicturesCountsOnce) {
  // Dark to bright over a quarter of a second in small steps, then straight
  // back down, three times a second: each ramp and each drop is one change.
  const FlashSummary summary = analyse(3.0, [](int frame) {
                                 const int step = frame % 20;
                                 const auto level =
                                     static_cast<std::uint8_t>(step < 15 ? step * 17 : 0);
                                 return picture(level, level, kWholePicture);
                               }).summary();
  EXPECT_TRUE(summary.passes);
  EXPECT_EQ(summary.worstFlashes, 3);
}

TEST(FlashAnalysis, ReportsWhenAndHowLongTheShowFails) {
  // Dark for 2 s, then 5 Hz (a change every 6 pictures) from picture 120 to
  // 239, then dark. The changes come at pictures 120, 126, ... 234: the
  // second ending with picture 162 holds the first 8 (4 flashes), and the
  // second ending with picture 251 the last 8.
  FlashAnalysis analysis = analyse(6.0, [](int frame) {
    const bool lit = frame >= 120 && frame < 240 && ((frame - 120) / 6) % 2 == 0;
    return picture(lit ? 255 : 0, 0, {0, 0, 0, 0});
  });
  const FlashSummary summary = analysis.summary();
  EXPECT_FALSE(summary.passes);
  EXPECT_EQ(summary.worstFlashes, 5);
  // The first second with 10 changes ends with picture 174.
  EXPECT_NEAR(summary.worstSecondStart, 175.0 / kRate - 1.0, 1e-9);
  EXPECT_NEAR(summary.secondsOverLimit, 90.0 / kRate, 1e-9);
  ASSERT_EQ(summary.failingStretches.size(), 1u);
  EXPECT_NEAR(summary.failingStretches[0].firstEnd, 163.0 / kRate, 1e-9);
  EXPECT_NEAR(summary.failingStretches[0].lastEnd, 252.0 / kRate, 1e-9);
  ASSERT_EQ(analysis.seconds().size(), 360u);
  EXPECT_EQ(analysis.seconds()[161].flashes, 3);
  EXPECT_EQ(analysis.seconds()[162].flashes, 4);
  EXPECT_EQ(analysis.seconds()[252].flashes, 3);
}

TEST(FlashAnalysis, MeasuresSaturatedRed) {
  std::vector<std::uint8_t> red(3u * kWidth * kHeight, 0);
  for (std::size_t i = 0; i < red.size(); i += 3)
    red[i] = 200;
  FlashAnalysis analysis(kWidth, kHeight, kRate);
  analysis.addPicture(picture(90, 90, kWholePicture));
  EXPECT_EQ(analysis.summary().largestSaturatedRedShare, 0.0);
  analysis.addPicture(red);
  EXPECT_DOUBLE_EQ(analysis.summary().largestSaturatedRedShare, 1.0);
}

TEST(FlashAnalysis, TakesOnlyPicturesOfItsSizeAndRatesItCanHold) {
  FlashAnalysis analysis(kWidth, kHeight, kRate);
  EXPECT_THROW(analysis.addPicture(std::vector<std::uint8_t>(3u * kWidth * kHeight - 1)),
               std::invalid_argument);
  EXPECT_THROW(FlashAnalysis(212, 480, kRate), std::invalid_argument);
  EXPECT_THROW(FlashAnalysis(kWidth, kHeight, 65), std::invalid_argument);
  EXPECT_THROW(FlashAnalysis(kWidth, kHeight, 0), std::invalid_argument);
}

TEST(FlashPlot, BarsReachTheLimitLineOnlyWhereSecondsFail) {
  std::vector<SecondOfFlashes> seconds(600);
  for (int i = 300; i < 360; ++i)
    seconds[i] = {6, 0.5};
  constexpr int kPlotWidth = 100, kPlotHeight = 100;
  const std::vector<std::uint8_t> rgb = plotFlashes(seconds, kRate, {}, kPlotWidth, kPlotHeight);
  ASSERT_EQ(rgb.size(), 3u * kPlotWidth * kPlotHeight);
  // Just above the bottom of the flashes panel, and at its top quarter: the
  // bars (bright blue) stand at the failing tenth of the time only.
  auto isBar = [&](int x, int y) { return rgb[3u * (y * kPlotWidth + x) + 2] == 255; };
  for (int x = 0; x < kPlotWidth; ++x) {
    const bool failing = x >= 50 && x < 60;
    EXPECT_EQ(isBar(x, 56), failing) << x;
    EXPECT_EQ(isBar(x, 25), failing) << x;
  }
}

} // namespace
