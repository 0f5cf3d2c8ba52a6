#pragma once

#include <cstdint>
#include <string>

// The platform layer: one window with a current OpenGL context, optionally in
// a fullscreen display mode, plus the message pump and the few user-interface
// calls the program needs. Each backend (win32/, sdl/) implements this header;
// the build picks one. No platform type appears here: native objects are held
// through opaque handle types that only the backend casts.

using WindowHandle = struct NativeWindow*;
using DeviceContextHandle = struct NativeDeviceContext*;
using GlContextHandle = struct NativeGlContext*;
using ModuleHandle = struct NativeModule*;

// Message numbers shared by both backends (they are the Win32 values).
inline constexpr unsigned kMessageClose = 0x0010;
inline constexpr unsigned kMessageQuit = 0x0012;
inline constexpr unsigned kMessageSysCommand = 0x0112;
inline constexpr std::uintptr_t kSysCommandScreenSave = 0xF140;
inline constexpr std::uintptr_t kSysCommandMonitorPower = 0xF170;

// Where a picture of a fixed size goes in a larger client area: scaled as
// large as it fits with its aspect kept, centred, the rest left as bars.
struct PictureArea {
  int x = 0; // from the left
  int y = 0; // from the bottom, as glViewport counts
  int width = 0;
  int height = 0;
};
PictureArea fitPicture(int pictureWidth, int pictureHeight, int areaWidth, int areaHeight);

// What the pixel format asks for; the backend turns it into its own record.
struct PixelFormatRequest {
  std::uint8_t colourBits = 0;
  std::uint8_t depthBits = 0;
  std::uint8_t stencilBits = 8;
};

class GlWindow {
public:
  // Creates the window, switches the display when fullscreen and makes a GL
  // context current on the calling thread. A negative displayMode uses the
  // given size and colour depth; zero or more takes them from that display
  // mode of the primary display. Throws a std::string on failure.
  // fillDesktop (only when not fullscreen): a borderless window covering the
  // desktop at its current mode, the width x height picture drawn scaled into
  // its fitPicture area (the viewport; a black clear leaves black bars).
  GlWindow(const char* title, int width, int height, int colourBits, int depthBits, int displayMode,
           bool fullscreen, bool fillDesktop = false);
  ~GlWindow();
  GlWindow(const GlWindow&) = delete;
  GlWindow& operator=(const GlWindow&) = delete;

  void swapBuffers();
  WindowHandle handle() const { return window; }

  int clientWidth() const { return width; }
  int clientHeight() const { return height; }
  int displayBits() const { return colourBits; }

  // Handles one window message: a close request becomes a quit message, and
  // screen saver and monitor power-down requests are swallowed.
  static std::intptr_t windowProc(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                  std::intptr_t lParam);

private:
  WindowHandle createWindow();
  void createContext(WindowHandle window, PixelFormatRequest format);

  std::string title;
  int colourBits = 0;
  int width = 0;
  int height = 0;
  bool fullscreen = false;
  bool fillDesktop = false;
  // Only Win32 has a module instance and a device context.
  [[maybe_unused]] ModuleHandle instance = nullptr;
  WindowHandle window = nullptr;
  [[maybe_unused]] DeviceContextHandle deviceContext = nullptr;
  GlContextHandle glContext = nullptr;
};

// Makes the system's requests to end the program (SIGTERM and SIGINT) end it
// the way a quit message does, in every state, with the error box taken down
// if it is up. Called once, first thing, by the program; tools that open a
// window keep the default handling.
void handleQuitSignals();

// Handles every pending message of the thread; true when a quit message was
// among them (a close request turns into one).
bool pumpMessages();

// True when Escape is down now or was pressed at any time since the last call.
bool escapePressed();

// Shows text in a modal box with an OK button and the system's default
// caption, and writes it to standard error (a console may be all there is).
void showErrorBox(const char* text);
