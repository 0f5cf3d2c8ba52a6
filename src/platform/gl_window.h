#pragma once

#include "platform/window_handle.h"

#include <memory>

// The platform layer: one window with a current OpenGL context, optionally in
// a fullscreen display mode, plus the frame loop, the message pump and the few
// user-interface calls the program needs. Each backend (win32/, sdl/, web/)
// implements this header
// and keeps its native objects in its own GlWindow::State; the build picks one.

// Where a picture of a fixed size goes in a larger client area: scaled as
// large as it fits with its aspect kept, centred, the rest left as bars.
struct PictureArea {
  int x = 0; // from the left
  int y = 0; // from the bottom, as glViewport counts
  int width = 0;
  int height = 0;
};
PictureArea fitPicture(int pictureWidth, int pictureHeight, int areaWidth, int areaHeight);

// How the window meets the screen.
enum class ScreenFill {
  // The display switches to the window's size and colour depth, the window
  // covers it and the cursor is hidden.
  SwitchMode,
  // A window with a caption on the desktop; the display mode stays.
  Window,
  // A borderless window covering the desktop at its current mode, the
  // width x height picture drawn scaled into its fitPicture area (the
  // viewport; a black clear leaves black bars); the cursor is hidden.
  FillDesktop,
};

// What the window is to be: the caller names the title, the size and the fill;
// the rest has the values every caller wants.
struct WindowDescription {
  const char* title = "";
  int width = 0; // the client area, and the display mode's size with SwitchMode
  int height = 0;
  ScreenFill fill = ScreenFill::Window;
  int colourBits = 32; // of the display mode and the pixel format
  int depthBits = 16;
  // Negative: the size and colour depth above; zero or more: taken from that
  // display mode of the primary display instead.
  int displayMode = -1;
};

class GlWindow {
public:
  // Creates the window, switches the display for SwitchMode and makes a GL
  // context current on the calling thread. Throws a std::string on failure.
  explicit GlWindow(const WindowDescription& description);
  // Gives the display its mode back, then releases the context and the window.
  ~GlWindow();
  GlWindow(const GlWindow&) = delete;
  GlWindow& operator=(const GlWindow&) = delete;

  // Hands the frame drawn to the screen. Returns how long from now it takes
  // to reach the screen, in seconds, as far as the system tells: 0 where it
  // shows on the swap (the desktop builds, on a display without a
  // compositor), the browser's compositing pipeline in the page.
  double swapBuffers();
  // The window for the sound device.
  WindowHandle handle() const;

  int clientWidth() const { return width; }
  int clientHeight() const { return height; }

  // The backend's native objects, defined in its source file.
  struct State;

private:
  // Freed with the object; a constructor that throws leaves what it made to
  // the end of the process, as the program ends after showing the failure.
  std::unique_ptr<State> state;
  int width = 0;
  int height = 0;
};

// Makes the system's requests to end the program (SIGTERM and SIGINT) end it
// the way a quit message does, in every state, with the error box taken down
// if it is up. Called once, first thing, by the program; tools that open a
// window keep the default handling.
void handleQuitSignals();

// Handles every pending message of the thread; true when a quit message was
// among them. A request to close the window turns into one; requests to start
// the screen saver or power the monitor down are swallowed.
bool pumpMessages();

// Calls frame(context) for as long as it returns true, then finish(context).
// The desktop backends loop here and return once finish has run; the browser
// cannot block in a loop, so its backend draws each frame from the page's
// animation timer and returns at once, and finish runs after the last frame.
// Whatever the two use must therefore outlive the caller's stack frame.
void runFrames(bool (*frame)(void* context), void (*finish)(void* context), void* context);

// True when Escape is down now or was pressed at any time since the last call.
bool escapePressed();

// The keys that steer playback: Space, Left, Right and Home.
enum class ControlKey { PauseResume, Back, Forward, ToStart };

// Control keys pressed, oldest first; a key held down counts again at each
// of the system's key repeats. Presses beyond the capacity are dropped.
struct ControlPresses {
  static constexpr int kCapacity = 16;
  ControlKey keys[kCapacity] = {};
  int count = 0;

  void add(ControlKey key) {
    if (count < kCapacity)
      keys[count++] = key;
  }
};

// The control keys pressed since the last call, as the message pump saw them.
ControlPresses controlKeysPressed();

// Shows text in a modal box with an OK button and the system's default
// caption, and writes it to standard error (a console may be all there is).
void showErrorBox(const char* text);
