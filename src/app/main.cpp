// The program's whole life: window, start-up, frame loop, shutdown, and the
// one place where errors are caught and shown. Once the show starts it exits
// with 0 on every path; only a command line it cannot read ends it earlier,
// with 2.
#include "app/data_folder.h"
#include "app/frame_clock.h"
#include "app/guarded.h"
#include "app/playback_controls.h"
#include "app/scene_script.h"
#include "app/show.h"
#include "audio/player/music_player.h"
#include "fixed_texts.h"
#include "platform/gl_window.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char kUsage[] =
    "usage: viriz [--windowed | --fullscreen-desktop] [--start-at SECONDS] [--loop]\n"
    "             [--reduced-flashing]\n"
    "\n"
    "Plays the show until Escape is pressed or the window is closed. Without an\n"
    "option the display switches to 640x480 for it, and the show says so when\n"
    "the display has no such mode.\n"
    "\n"
    "options:\n"
    "  --windowed            a 640x480 window on the desktop; the display mode stays\n"
    "  --fullscreen-desktop  the whole screen at its current mode, the 640x480\n"
    "                        picture scaled to fit between black bars\n"
    "  --start-at SECONDS    starts the show that far in (past the end: at the end)\n"
    "  --loop                starts the show again each time the music ends\n"
    "  --reduced-flashing    steady credits and a gentler swing: no strobing\n"
    "  --help                this text\n"
    "\n"
    "keys:\n"
    "  Space                 pauses and resumes\n"
    "  Left, Right           5 seconds back, forward\n"
    "  Home                  back to the start\n"
    "  Escape                ends the show\n"
    "  closing the window (Alt+F4) ends it too\n";

struct Options {
  ScreenFill screen = ScreenFill::SwitchMode;
  float startAt = 0.0f; // seconds into the show
  bool loop = false;
  bool help = false;
  bool reducedFlashing = false;
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
    if (std::strcmp(arg, "--loop") == 0) {
      options.loop = true;
      continue;
    }
    if (std::strcmp(arg, "--start-at") == 0) {
      // The music's length is not known yet: a start past its end starts at
      // the end.
      options.error = readShowSeconds("--start-at", i + 1 < argc ? argv[i + 1] : nullptr, 0.0f,
                                      options.startAt);
      if (!options.error.empty())
        return options;
      ++i;
      continue;
    }
    if (std::strcmp(arg, "--reduced-flashing") == 0) {
      options.reducedFlashing = true;
      continue;
    }
    ScreenFill screen;
    if (std::strcmp(arg, "--windowed") == 0) {
      screen = ScreenFill::Window;
    } else if (std::strcmp(arg, "--fullscreen-desktop") == 0) {
      screen = ScreenFill::FillDesktop;
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

// What the frames and the shutdown share, from start-up to the end of the
// program: the frame loop may run after main has returned (in the browser).
struct Program {
  std::unique_ptr<GlWindow> window;
  std::unique_ptr<Show> show;
  FrameClock frameClock;
  // The last music clock reading: the clock goes back only when the music
  // jumps (a seek, a loop), and the time drawn then goes back with it.
  float lastHeard = 0.0f;
  float lastDrawn = 0.0f; // the show time of the last frame

  // The one teardown, at the end and on a failure: the window goes first (the
  // display mode and the cursor come back, so that an error box cannot end up
  // behind a fullscreen window), then the fade track, then the music. Safe to
  // run again: a second run only repeats the music's release step.
  void release() {
    window.reset();
    show.reset();
    releaseShow();
  }
};

// Carries out the control keys pressed since the last frame. A pause is taken
// before a seek and a resume after it, so the device opens at most once.
void applyControls() {
  const ControlPresses presses = controlKeysPressed();
  if (presses.count == 0)
    return;
  const PlaybackRequest request = playbackRequest(
      presses, MusicPlayer::currentTime(), MusicPlayer::paused(), MusicPlayer::trackLength());
  if (request.paused)
    MusicPlayer::setPaused(true);
  if (request.seek)
    MusicPlayer::seek(request.seekTo);
  if (!request.paused)
    MusicPlayer::setPaused(false);
}

// The error handling around start-up and around each frame: runs `step`, and
// after a failure releases everything and shows the text. False after a
// failure.
template <typename Step> bool guardedStep(Program& program, Step step) {
  return guarded(step, [&program](const char* text) {
    program.release();
    showErrorBox(text);
  });
}

// One frame; false once Escape or a quit message has been seen, or after a
// failure, so that no frame is drawn after that. No pacing: all animation
// follows the music clock, as it will be when the frame shows.
bool drawNextFrame(void* context) {
  auto& program = *static_cast<Program*>(context);
  bool quit = false;
  const bool drawn = guardedStep(program, [&] {
    const float heard = MusicPlayer::currentTime();
    if (heard < program.lastHeard)
      program.frameClock.restart();
    // Paused, the frame drawn last is drawn again: the frame delay, which
    // still moves, must not move the picture.
    if (!MusicPlayer::paused() || heard != program.lastHeard)
      program.lastDrawn = program.frameClock.showTime(heard);
    program.lastHeard = heard;
    drawFrame(*program.show, program.lastDrawn);
    glFlush();
    program.frameClock.presented(program.window->swapBuffers());
    if (pumpMessages())
      quit = true;
    if (escapePressed())
      quit = true;
    else
      applyControls();
  });
  return drawn && !quit;
}

void endProgram(void* context) {
  const std::unique_ptr<Program> program(static_cast<Program*>(context));
  program->release();
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
  auto* program = new Program;
  const bool started = guardedStep(*program, [program, &options] {
    program->window =
        std::make_unique<GlWindow>(WindowDescription{kWindowTitle, 640, 480, options.screen});
    program->show = std::make_unique<Show>();
    MusicPlayer::setLooping(options.loop);
    program->show->flashing = options.reducedFlashing ? Flashing::Reduced : Flashing::AsComposed;
    startShow(*program->show, program->window->handle(), options.startAt);
  });
  if (started)
    runFrames(drawNextFrame, endProgram, program);
  else
    endProgram(program);
  return 0;
}
