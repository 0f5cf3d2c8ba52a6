#include "gl_test_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void fail(const std::string& what) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(eglGetError()));
  throw std::runtime_error("GL test context: " + what + " (EGL error " + code + ")");
}

EGLDisplay openSurfacelessDisplay() {
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!getPlatformDisplay) {
    fail("eglGetPlatformDisplayEXT is missing");
  }
  EGLDisplay display =
      getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (display == EGL_NO_DISPLAY) {
    fail("no surfaceless display");
  }
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor)) {
    fail("eglInitialize failed");
  }
  return display;
}

EGLConfig chooseConfig(EGLDisplay display) {
  const EGLint attributes[] = {EGL_SURFACE_TYPE,
                               EGL_PBUFFER_BIT,
                               EGL_RENDERABLE_TYPE,
                               EGL_OPENGL_BIT,
                               EGL_RED_SIZE,
                               8,
                               EGL_GREEN_SIZE,
                               8,
                               EGL_BLUE_SIZE,
                               8,
                               EGL_ALPHA_SIZE,
                               8,
                               EGL_DEPTH_SIZE,
                               24,
                               EGL_NONE};
  EGLConfig config = nullptr;
  EGLint count = 0;
  if (!eglChooseConfig(display, attributes, &config, 1, &count) || count < 1) {
    fail("no RGBA8 + depth 24 pbuffer config");
  }
  return config;
}

} // namespace

GlTestContext::GlTestContext(int width, int height) : surfaceWidth(width), surfaceHeight(height) {
  EGLDisplay eglDisplay = openSurfacelessDisplay();
  display = eglDisplay;
  try {
    if (!eglBindAPI(EGL_OPENGL_API)) {
      fail("desktop OpenGL is not available");
    }
    EGLConfig config = chooseConfig(eglDisplay);
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    surface = eglCreatePbufferSurface(eglDisplay, config, surfaceAttributes);
    if (surface == EGL_NO_SURFACE) {
      fail("eglCreatePbufferSurface failed");
    }
    // No attributes: the default is a compatibility context, which keeps the
    // fixed-function pipeline the demo draws with.
    context = eglCreateContext(eglDisplay, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
      fail("eglCreateContext failed");
    }
    if (!eglMakeCurrent(eglDisplay, surface, surface, context)) {
      fail("eglMakeCurrent failed");
    }
  } catch (...) {
    release();
    throw;
  }
  glViewport(0, 0, width, height);
}

GlTestContext::~GlTestContext() {
  release();
}

void GlTestContext::release() {
  if (!display) {
    return;
  }
  eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (context) {
    eglDestroyContext(display, context);
    context = nullptr;
  }
  if (surface) {
    eglDestroySurface(display, surface);
    surface = nullptr;
  }
  // The display is left initialised: terminating it unloads the driver, and
  // the few bytes the driver keeps then show up as leaks in sanitizer runs
  // with no module to name. The next context reuses the same display.
  display = nullptr;
}

std::array<uint8_t, 4> GlTestContext::pixel(int x, int y) const {
  std::array<uint8_t, 4> rgba{};
  glFinish();
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  return rgba;
}

std::vector<uint8_t> GlTestContext::readPixels() const {
  std::vector<uint8_t> rgba(size_t(surfaceWidth) * size_t(surfaceHeight) * 4);
  glFinish();
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, surfaceWidth, surfaceHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  return rgba;
}
