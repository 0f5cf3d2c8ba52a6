// The program's whole life: window, frame loop, shutdown, and the one place
// where errors are caught and shown.
#include "platform/gl_window.h"

#include <GL/gl.h>

#include <exception>
#include <string>

namespace {

void drawFrame() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// Frames until Escape or a quit message. The flag is tested at the top of each
// pass, so no frame is drawn once it is set.
void runFrameLoop(GlWindow& window) {
  bool quit = false;
  while (!quit) {
    drawFrame();
    glFlush();
    window.swapBuffers();
    if (pumpMessages())
      quit = true;
    if (escapePressed())
      quit = true;
  }
}

} // namespace

int main(int, char**) {
  try {
    GlWindow* window = new GlWindow("test", 640, 480, 32, 16, -1, true);
    runFrameLoop(*window);
    delete window;
  } catch (const char* text) {
    showErrorBox(text);
  } catch (std::string text) {
    showErrorBox(text.c_str());
  } catch (const std::exception& error) {
    showErrorBox(error.what());
  } catch (...) {
    showErrorBox("Unknown internal error");
  }
  return 0;
}
