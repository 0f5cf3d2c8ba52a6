#include "platform/gl_window.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// SDL's offscreen driver: a real GL context with no display at all. Its one
// display mode is 1024x768, which makes it a display without a 640x480 mode.
class GlWindowTest : public ::testing::Test {
protected:
  void SetUp() override { setenv("SDL_VIDEODRIVER", "offscreen", 1); }
};

std::string constructionError(int width, int height, ScreenFill fill) {
  try {
    GlWindow window(WindowDescription{"test", width, height, fill});
  } catch (const std::string& text) {
    return text;
  }
  return "";
}

TEST_F(GlWindowTest, WindowedHasCurrentContextAndExactClientSize) {
  GlWindow window(WindowDescription{"test", 320, 200});
  EXPECT_EQ(window.clientWidth(), 320);
  EXPECT_EQ(window.clientHeight(), 200);
  ASSERT_NE(glGetString(GL_VERSION), nullptr);

  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 320);
  EXPECT_EQ(viewport[3], 200);

  GLint depthBits = 0, stencilBits = 0;
  glGetIntegerv(GL_DEPTH_BITS, &depthBits);
  glGetIntegerv(GL_STENCIL_BITS, &stencilBits);
  EXPECT_GE(depthBits, 16);
  EXPECT_GE(stencilBits, 8);
}

TEST_F(GlWindowTest, ClearColourReadsBack) {
  GlWindow window(WindowDescription{"test", 64, 48});
  glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glFinish();
  unsigned char pixel[4] = {};
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_NEAR(pixel[0], 51, 1);
  EXPECT_NEAR(pixel[1], 102, 1);
  EXPECT_NEAR(pixel[2], 153, 1);
  window.swapBuffers();
}

TEST_F(GlWindowTest, FullscreenWithoutThatModeFails) {
  EXPECT_EQ(constructionError(640, 480, ScreenFill::SwitchMode),
            "Failed to change display settings");
  EXPECT_EQ(constructionError(640, 480, ScreenFill::Window), "");
  // Filling the desktop needs no mode.
  EXPECT_EQ(constructionError(640, 480, ScreenFill::FillDesktop), "");
}

// The offscreen display is 1024x768: a picture of another shape shows in the
// middle of the whole display, between bars.
TEST_F(GlWindowTest, FillingTheDesktopDrawsThePictureScaledIntoItsMiddle) {
  GlWindow window(WindowDescription{"test", 320, 480, ScreenFill::FillDesktop});
  EXPECT_EQ(window.clientWidth(), 320);
  EXPECT_EQ(window.clientHeight(), 480);
  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[0], 256);
  EXPECT_EQ(viewport[1], 0);
  EXPECT_EQ(viewport[2], 512);
  EXPECT_EQ(viewport[3], 768);

  // A black clear covers the bars too; drawing stays inside the picture.
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glColor3f(1.0f, 1.0f, 1.0f);
  glRectf(-1.0f, -1.0f, 1.0f, 1.0f);
  glFinish();
  auto red = [](int x, int y) {
    unsigned char pixel[4] = {};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    return int{pixel[0]};
  };
  EXPECT_EQ(red(255, 384), 0);
  EXPECT_EQ(red(256, 384), 255);
  EXPECT_EQ(red(767, 384), 255);
  EXPECT_EQ(red(768, 384), 0);
  window.swapBuffers();
}

struct Fit {
  int picture[2];
  int area[2];
  PictureArea expected;
};

TEST(FitPicture, LargestCentredAreaWithTheSameShape) {
  const Fit cases[] = {
      {{640, 480}, {640, 480}, {0, 0, 640, 480}},    // the picture's own size
      {{640, 480}, {1024, 768}, {0, 0, 1024, 768}},  // the same shape, larger
      {{640, 480}, {1280, 720}, {160, 0, 960, 720}}, // wide: bars left and right
      {{640, 480}, {1920, 1080}, {240, 0, 1440, 1080}},
      {{640, 480}, {1366, 768}, {171, 0, 1024, 768}},          // the bars differ by a pixel
      {{640, 480}, {1280, 1024}, {0, 32, 1280, 960}},          // tall: bars above and below
      {{640, 480}, {800, 1280}, {0, 340, 800, 600}},           // a portrait display
      {{640, 480}, {320, 200}, {26, 0, 267, 200}},             // smaller: scaled down
      {{640, 480}, {1001, 751}, {0, 0, 1001, 751}},            // rounded to the nearest pixel
      {{100000, 75000}, {40000, 30001}, {0, 0, 40000, 30000}}, // products beyond int
  };
  for (const Fit& fit : cases) {
    const PictureArea area = fitPicture(fit.picture[0], fit.picture[1], fit.area[0], fit.area[1]);
    SCOPED_TRACE(testing::Message() << fit.area[0] << "x" << fit.area[1]);
    EXPECT_EQ(area.x, fit.expected.x);
    EXPECT_EQ(area.y, fit.expected.y);
    EXPECT_EQ(area.width, fit.expected.width);
    EXPECT_EQ(area.height, fit.expected.height);
  }
}

TEST(FitPicture, EmptySizesGiveTheWholeArea) {
  const PictureArea noPicture = fitPicture(0, 480, 800, 600);
  EXPECT_EQ(noPicture.width, 800);
  EXPECT_EQ(noPicture.height, 600);
  const PictureArea noArea = fitPicture(640, 480, 0, -5);
  EXPECT_EQ(noArea.width, 0);
  EXPECT_EQ(noArea.height, 0);
}

TEST_F(GlWindowTest, WindowCanBeMadeAgainAfterDestruction) {
  for (int i = 0; i < 2; ++i) {
    GlWindow window(WindowDescription{"test", 32, 32});
    EXPECT_NE(glGetString(GL_RENDERER), nullptr);
  }
}

// A close request reaches the program as one quit, and the window stays until
// it is destroyed; Escape is a separate matter.
TEST_F(GlWindowTest, CloseRequestQuitsOnceAndKeepsTheWindow) {
  GlWindow window(WindowDescription{"test", 32, 32});
  while (pumpMessages()) {
  }
  SDL_Event close{};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  close.window.windowID = SDL_GetWindowID(reinterpret_cast<SDL_Window*>(window.handle()));
  ASSERT_EQ(SDL_PushEvent(&close), 1);
  EXPECT_TRUE(pumpMessages());
  EXPECT_FALSE(pumpMessages());
  EXPECT_FALSE(escapePressed());
  EXPECT_NE(SDL_GetWindowFromID(close.window.windowID), nullptr);
  window.swapBuffers();
}

} // namespace
