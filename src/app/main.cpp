// The program's whole life: window, start-up, frame loop, shutdown, and the
// one place where errors are caught and shown. It always exits with 0.
#include "app/scene_script.h"
#include "app/show.h"
#include "audio/music_player.h"
#include "platform/gl_window.h"

#include <GL/gl.h>

#include <exception>
#include <string>

namespace {

// Frames until Escape or a quit message. The flag is tested at the top of each
// pass, so no frame is drawn once it is set. No pacing: all animation follows
// the music clock.
void runFrameLoop(GlWindow& window, Show& show) {
  bool quit = false;
  while (!quit) {
    drawFrame(show, MusicPlayer::currentTime());
    glFlush();
    window.swapBuffers();
    if (pumpMessages())
      quit = true;
    if (escapePressed())
      quit = true;
  }
}

// A failure: the music stops, the desktop comes back (display mode, cursor)
// so that the box cannot end up behind a fullscreen window, then the text is
// shown.
void reportFailure(GlWindow*& window, const char* text) {
  releaseShow();
  delete window;
  window = nullptr;
  showErrorBox(text);
}

} // namespace

int main(int, char**) {
  GlWindow* window = nullptr;
  try {
    window = new GlWindow("test", 640, 480, 32, 16, -1, true);
    Show show;
    startShow(show, window->handle());
    runFrameLoop(*window, show);
    delete window;
    window = nullptr;
    // The fade track goes with `show` here, before the music stops below.
  } catch (const char* text) {
    reportFailure(window, text);
  } catch (std::string text) {
    reportFailure(window, text.c_str());
  } catch (const std::exception& error) {
    reportFailure(window, error.what());
  } catch (...) {
    reportFailure(window, "Unknown internal error");
  }
  releaseShow();
  return 0;
}
