// The program's whole life: window, start-up, frame loop, shutdown, and the
// one place where errors are caught and shown. Once the show starts it exits
// with 0 on every path; only a command line it cannot read ends it earlier,
// with 2.
#include "app/data_folder.h"
#include "app/frame_clock.h"
#include "app/scene_script.h"
#include "app/show.h"
#include "audio/music_player.h"
#include "platform/gl_window.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

const char kUsage[] =
    "usage: viriz [--windowed | --fullscreen-desktop]\n"
    "\n"
    "Plays the show until Escape is pressed or the window is closed. Without an\n"
    "option the display switches to 640x480 for it, and the show says so when\n"
    "the display has no such mode.\n"
    "\n"
    "options:\n"
    "  --windowed            a 640x480 window on the desktop; the display mode stays\n"
    "  --fullscreen-desktop  the whole screen at its current mode, the 640x480\n"
    "                        picture scaled to fit between black bars\n"
    "  --help                this text\n"
    "\n"
    "keys:\n"
    "  Escape                ends the show\n"
    "  closing the window (Alt+F4) ends it too\n";

// How the show meets the display.
enum class Screen { SwitchMode, Windowed, FillDesktop };

struct Options {
  Screen screen = Screen::SwitchMode;
  bool help = false;
  std::string error; // set when the command line cannot be read
};

Options readOptions(int argc, char** argv) {
  Options options;
  bool screenChosen = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      options.help = true;
      continue;
    }
    Screen screen;
    if (std::strcmp(arg, "--windowed") == 0) {
      screen = Screen::Windowed;
    } else if (std::strcmp(arg, "--fullscreen-desktop") == 0) {
      screen = Screen::FillDesktop;
    } else {
      options.error = std::string("unknown option '") + arg + "'";
      return options;
    }
    if (screenChosen && screen != options.screen) {
      options.error = "--windowed and --fullscreen-desktop exclude each other";
      return options;
    }
    options.screen = screen;
    screenChosen = true;
  }
  return options;
}

// Frames until Escape or a quit message. The flag is tested at the top of each
// pass, so no frame is drawn once it is set. No pacing: all animation follows
// the music clock, as it will be when the frame shows.
void runFrameLoop(GlWindow& window, Show& show) {
  bool quit = false;
  FrameClock frameClock;
  while (!quit) {
    drawFrame(show, frameClock.showTime(MusicPlayer::currentTime()));
    glFlush();
    window.swapBuffers();
    frameClock.presented();
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

int main(int argc, char** argv) {
  handleQuitSignals();
  const Options options = readOptions(argc, argv);
  if (!options.error.empty()) {
    std::fprintf(stderr, "viriz: %s\n\n%s", options.error.c_str(), kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  enterDataFolder();
  GlWindow* window = nullptr;
  try {
    window = new GlWindow("test", 640, 480, 32, 16, -1, options.screen == Screen::SwitchMode,
                          options.screen == Screen::FillDesktop);
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
