// The show drawn for real, offscreen, from the generated data set: the GL
// state a frame leaves behind, and golden frames.
#include "app/scene_script.h"
#include "frame_capture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kBinDir = VIRIZ_BINARY_DIR "/bin";
const std::string kGoldenDir = VIRIZ_SOURCE_DIR "/tests/golden";

// The golden times: the logo-less start, the slow swing, the logo, the fast
// section, the credits flashing.
const double kGoldenTimes[] = {0.0, 6.0, 20.0, 40.0, 48.67};

class ShowGl : public ::testing::Test {
protected:
  static void SetUpTestSuite() { capture = new FrameCapture(kBinDir); }
  static void TearDownTestSuite() {
    delete capture;
    capture = nullptr;
  }
  static FrameCapture* capture;
};
FrameCapture* ShowGl::capture = nullptr;

GLint integer(GLenum name) {
  GLint value = 0;
  glGetIntegerv(name, &value);
  return value;
}

TEST_F(ShowGl, FrameLeavesModelviewModeAndOneProjectionEntry) {
  for (float seconds : {0.0f, 20.0f, 50.0f}) {
    capture->render(seconds);
    EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW) << seconds;
    EXPECT_EQ(integer(GL_PROJECTION_STACK_DEPTH), 1) << seconds;
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_EQ(integer(GL_DEPTH_FUNC), GL_LEQUAL);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
}

TEST_F(ShowGl, OverlayTurnsOnAdditiveBlending) {
  capture->render(20.0f);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_EQ(integer(GL_BLEND_SRC), GL_ONE);
  EXPECT_EQ(integer(GL_BLEND_DST), GL_ONE);
  capture->render(5.0f); // before the first overlay: blending is off again
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
}

TEST_F(ShowGl, FrameDependsOnItsTimeAloneNotOnEarlierFrames) {
  // Frames after the first overlay draw the mesh additively too, whether or
  // not an overlay frame came before them; frames before it do not.
  for (float seconds : {5.0f, 12.0f, 40.0f}) {
    capture->render(0.0f);
    const std::vector<std::uint8_t> afterStart = capture->render(seconds);
    capture->render(50.0f);
    const std::vector<std::uint8_t> afterCredits = capture->render(seconds);
    EXPECT_TRUE(afterStart == afterCredits) << seconds;
  }
}

TEST_F(ShowGl, MeshIsVisibleFromTheFirstFrame) {
  std::vector<std::uint8_t> rgb = capture->render(0.0f);
  size_t lit = 0;
  for (size_t i = 0; i < rgb.size(); i += 3)
    lit += (rgb[i] + rgb[i + 1] + rgb[i + 2]) > 30;
  EXPECT_GT(lit, rgb.size() / 3 / 100) << "under 1% of the screen shows the mesh";
}

TEST_F(ShowGl, CreditsFlashBrightensTheFrame) {
  // Beat 160.5 and 161: dark credits; the frame is the mesh alone, so
  // turning the credits' brightness up must brighten a flashing frame.
  std::vector<std::uint8_t> dark = capture->render(48.15f);
  std::vector<std::uint8_t> flash = capture->render(48.6f + 0.07f);
  long darkSum = 0, flashSum = 0;
  for (size_t i = 0; i < dark.size(); ++i) {
    darkSum += dark[i];
    flashSum += flash[i];
  }
  EXPECT_GT(flashSum, darkSum);
}

// The reduced-flashing show for one test case, whatever the case ends with.
struct ReducedFlashing {
  explicit ReducedFlashing(Show& show) : show(show) { show.flashing = Flashing::Reduced; }
  ~ReducedFlashing() { show.flashing = Flashing::AsComposed; }
  Show& show;
};

long brightness(const std::vector<std::uint8_t>& rgb) {
  long sum = 0;
  for (std::uint8_t value : rgb)
    sum += value;
  return sum;
}

TEST_F(ShowGl, ReducedFlashingChangesOnlyTheSwingAndTheCreditsLitHalves) {
  // At the start (where both swings begin) and in the credits' dark halves
  // (beats 160 to 162 and 164 to 166) the frames are the same, byte for
  // byte; along the swing they differ, and in the credits' lit halves (162
  // to 164) the credits shine steadily, at least as bright as a flash.
  const float sameTimes[] = {0.0f, 48.15f, 49.5f};
  const float swingTimes[] = {6.0f, 20.0f, 30.0f, 40.0f};
  const float litTimes[] = {48.67f, 48.9f, 49.1f};
  std::vector<std::vector<std::uint8_t>> asComposed;
  for (const auto& times : {std::vector<float>(std::begin(sameTimes), std::end(sameTimes)),
                            std::vector<float>(std::begin(swingTimes), std::end(swingTimes)),
                            std::vector<float>(std::begin(litTimes), std::end(litTimes))})
    for (float seconds : times)
      asComposed.push_back(capture->render(seconds));

  ReducedFlashing reduced(capture->show());
  size_t i = 0;
  for (float seconds : sameTimes)
    EXPECT_TRUE(capture->render(seconds) == asComposed[i++]) << seconds;
  for (float seconds : swingTimes)
    EXPECT_FALSE(capture->render(seconds) == asComposed[i++]) << seconds;
  for (float seconds : litTimes) {
    const std::vector<std::uint8_t> frame = capture->render(seconds);
    EXPECT_FALSE(frame == asComposed[i]) << seconds;
    EXPECT_GE(brightness(frame), brightness(asComposed[i++])) << seconds;
  }
}

struct Image {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

bool readPng(const std::string& path, Image& image) {
  png_image reader{};
  reader.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&reader, path.c_str()))
    return false;
  reader.format = PNG_FORMAT_RGB;
  image.width = static_cast<int>(reader.width);
  image.height = static_cast<int>(reader.height);
  image.rgb.resize(PNG_IMAGE_SIZE(reader));
  return png_image_finish_read(&reader, nullptr, image.rgb.data(), 0, nullptr) != 0;
}

// Mesa's rasterisation may differ slightly between versions: a pixel counts as
// different beyond 24 levels in a channel, and 0.5% of the pixels may differ.
TEST_F(ShowGl, GoldenFrames) {
  for (double seconds : kGoldenTimes) {
    std::string path = kGoldenDir + "/" + frameNameForTime(seconds);
    Image golden;
    ASSERT_TRUE(readPng(path, golden)) << path;
    ASSERT_EQ(golden.width, FrameCapture::kWidth);
    ASSERT_EQ(golden.height, FrameCapture::kHeight);
    std::vector<std::uint8_t> frame = capture->render(static_cast<float>(seconds));
    size_t differing = 0;
    for (size_t i = 0; i < frame.size(); i += 3)
      for (size_t c = 0; c < 3; ++c)
        if (std::abs(frame[i + c] - golden.rgb[i + c]) > 24) {
          ++differing;
          break;
        }
    EXPECT_LE(differing, frame.size() / 3 / 200) << path << ": " << differing << " pixels differ";
  }
}

} // namespace
