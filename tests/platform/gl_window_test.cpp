#include "platform/gl_window.h"

#include <GL/gl.h>
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

std::string constructionError(int width, int height, bool fullscreen) {
  try {
    GlWindow window("test", width, height, 32, 16, -1, fullscreen);
  } catch (const std::string& text) {
    return text;
  }
  return "";
}

TEST_F(GlWindowTest, WindowedHasCurrentContextAndExactClientSize) {
  GlWindow window("test", 320, 200, 32, 16, -1, false);
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
  GlWindow window("test", 64, 48, 32, 16, -1, false);
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
  EXPECT_EQ(constructionError(640, 480, true), "Failed to change display settings");
  EXPECT_EQ(constructionError(640, 480, false), "");
}

TEST_F(GlWindowTest, WindowCanBeMadeAgainAfterDestruction) {
  for (int i = 0; i < 2; ++i) {
    GlWindow window("test", 32, 32, 32, 16, -1, false);
    EXPECT_NE(glGetString(GL_RENDERER), nullptr);
  }
}

TEST_F(GlWindowTest, WindowProcTurnsCloseIntoQuitAndSwallowsScreenSaver) {
  GlWindow window("test", 32, 32, 32, 16, -1, false);
  while (pumpMessages()) {
  }
  EXPECT_EQ(GlWindow::windowProc(window.handle(), kMessageSysCommand, kSysCommandScreenSave, 0), 0);
  EXPECT_FALSE(pumpMessages());
  EXPECT_EQ(GlWindow::windowProc(window.handle(), kMessageClose, 0, 0), 0);
  EXPECT_TRUE(pumpMessages());
  EXPECT_FALSE(pumpMessages());
  EXPECT_FALSE(escapePressed());
}

} // namespace
