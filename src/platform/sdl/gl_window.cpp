// SDL2 backend of the platform layer. It keeps the Win32 backend's behaviour:
// the same steps in the same order, the same error texts, a close request
// turned into a quit message, and Escape latched between polls.
#include "platform/gl_window.h"

#include "fixed_texts.h"

#include <GL/gl.h>
#include <SDL.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What the message pump and the input calls share with the window. Only the
// main thread touches it.
struct Messages {
  // Set by a close request, read by the message pump: the quit message.
  bool quitPosted = false;
  // Escape pressed since the last poll.
  bool escapeLatched = false;
  // Control keys pressed since the last poll.
  ControlPresses controls;
  // The picture size of a window that fills the desktop (zero when there is
  // none): a window manager may still resize it, and the viewport follows.
  int fittedWidth = 0;
  int fittedHeight = 0;
};
Messages messages;

// SIGTERM and SIGINT end the program in every state with exit code 0, like
// every other way out: in the frame loop they are a quit message; while the
// error box is up (its loop reads none of our messages) they take the box
// down and end the process at once, since the music is stopped and the
// window released before the box shows.
std::atomic<bool> quitSignalled{false};
// The process group of the error box, while it is up.
std::atomic<pid_t> errorBoxGroup{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free,
              "used in a signal handler");

void onQuitSignal(int) {
  quitSignalled = true;
  if (const pid_t box = errorBoxGroup; box > 0) {
    kill(-box, SIGKILL);
    _exit(0);
  }
}

// The display mode of the window's display with exactly this size and depth.
// A 24-bit X visual stores 32 bits a pixel, so 32 bits also matches it.
bool findExactMode(SDL_Window* window, int width, int height, int colourBits,
                   SDL_DisplayMode& found) {
  int display = SDL_GetWindowDisplayIndex(window);
  if (display < 0)
    return false;
  for (int i = 0, count = SDL_GetNumDisplayModes(display); i < count; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(display, i, &mode) != 0)
      continue;
    int bits = static_cast<int>(SDL_BITSPERPIXEL(mode.format));
    int storedBits = static_cast<int>(SDL_BYTESPERPIXEL(mode.format)) * 8;
    if (mode.w == width && mode.h == height && (bits == colourBits || storedBits == colourBits)) {
      found = mode;
      return true;
    }
  }
  return false;
}

bool switchToMode(SDL_Window* window, int width, int height, int colourBits) {
  SDL_DisplayMode mode;
  if (!findExactMode(window, width, height, colourBits, mode))
    return false;
  if (SDL_SetWindowDisplayMode(window, &mode) != 0)
    return false;
  if (SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) != 0)
    return false;
  int shownWidth = 0, shownHeight = 0;
  SDL_GetWindowSize(window, &shownWidth, &shownHeight);
  return shownWidth == width && shownHeight == height;
}

// What the pixel format asks for.
struct PixelFormatRequest {
  int depthBits = 0;
  int stencilBits = 8;
};

// The GL attributes must be in place before the window exists: X11 picks the
// window's visual from them when it is created.
bool requestPixelFormat(PixelFormatRequest format) {
  return SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1) == 0 &&
         SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, format.depthBits) == 0 &&
         SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, format.stencilBits) == 0 &&
         SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY) ==
             0 &&
         SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2) == 0 &&
         SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1) == 0;
}

// The picture goes into the middle of the drawable, scaled with its aspect
// kept. Only the viewport changes: the show clears to black, which leaves
// the bars black, and its geometry is clipped to the viewport.
void viewPicture(SDL_Window* window, int pictureWidth, int pictureHeight) {
  if (!window)
    return;
  int drawableWidth = 0, drawableHeight = 0;
  SDL_GL_GetDrawableSize(window, &drawableWidth, &drawableHeight);
  const PictureArea area = fitPicture(pictureWidth, pictureHeight, drawableWidth, drawableHeight);
  glViewport(area.x, area.y, area.width, area.height);
  messages.fittedWidth = pictureWidth;
  messages.fittedHeight = pictureHeight;
}

// The window and its context.
SDL_Window* createWindow(const char* title, int width, int height, bool fillDesktop) {
  // Created at (0, 0) with exactly the client size; never resizable. Filling
  // the desktop, it has the desktop's size from the start: without a window
  // manager nothing would resize it on the request to go fullscreen.
  int x = 0, y = 0;
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
  if (fillDesktop) {
    SDL_Rect desktop;
    if (SDL_GetDisplayBounds(0, &desktop) != 0)
      throw std::string(kCreateWindowFailedText);
    x = desktop.x;
    y = desktop.y;
    width = desktop.w;
    height = desktop.h;
    flags |= SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP;
  }
  SDL_Window* created = SDL_CreateWindow(title, x, y, width, height, flags);
  if (!created)
    throw std::string(kCreateWindowFailedText);
  SDL_DisableScreenSaver();
  messages.quitPosted = false;
  return created;
}

SDL_GLContext createContext(SDL_Window* window) {
  SDL_GLContext context = SDL_GL_CreateContext(window);
  if (!context)
    throw std::string(kCreateContextFailedText);
  SDL_GL_MakeCurrent(window, context);
  return context;
}

// The context must have at least the requested depth and stencil bits.
bool hasRequestedBuffers(PixelFormatRequest format) {
  int depth = 0, stencil = 0;
  SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &depth);
  SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &stencil);
  return depth >= format.depthBits && stencil >= format.stencilBits;
}

// With no display to talk to, SDL falls back to a driver that shows nothing
// (offscreen, dummy) and the show would play unseen for ever. Those drivers
// count only when asked for by name (SDL_VIDEODRIVER, as the capture tools
// and the tests do).
bool foundNoDisplay() {
  if (SDL_GetHint(SDL_HINT_VIDEODRIVER) != nullptr)
    return false;
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver == nullptr || std::strcmp(driver, "offscreen") == 0 ||
         std::strcmp(driver, "dummy") == 0;
}

} // namespace

struct GlWindow::State {
  bool fullscreen = false;
  bool fillDesktop = false;
  SDL_Window* window = nullptr;
  SDL_GLContext glContext = nullptr;
};

GlWindow::GlWindow(const WindowDescription& description) : state(new State) {
  state->fullscreen = description.fill == ScreenFill::SwitchMode;
  state->fillDesktop = description.fill == ScreenFill::FillDesktop;
  int width = description.width;
  int height = description.height;
  int colourBits = description.colourBits;
  // Video start-up stands where the window class is registered.
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
    throw std::string(kRegisterWindowClassFailedText);
  if (foundNoDisplay()) {
    std::fprintf(stderr, "viriz: no display found (is DISPLAY or WAYLAND_DISPLAY set?)\n");
    throw std::string(kCreateWindowFailedText);
  }

  if (description.displayMode >= 0) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(0, description.displayMode, &mode) == 0) {
      colourBits = static_cast<int>(SDL_BITSPERPIXEL(mode.format));
      width = mode.w;
      height = mode.h;
    }
  }
  this->width = width;
  this->height = height;

  PixelFormatRequest format;
  format.depthBits = description.depthBits;
  if (!requestPixelFormat(format))
    throw std::string(kChoosePixelFormatFailedText);

  state->window = createWindow(description.title, width, height, state->fillDesktop);

  if (state->fullscreen) {
    if (!switchToMode(state->window, width, height, colourBits))
      throw std::string(kDisplaySettingsFailedText);
    SDL_ShowCursor(SDL_DISABLE);
  }
  if (state->fillDesktop)
    SDL_ShowCursor(SDL_DISABLE);

  state->glContext = createContext(state->window);
  if (!hasRequestedBuffers(format))
    throw std::string(kChoosePixelFormatFailedText);
  if (state->fillDesktop)
    viewPicture(state->window, width, height);
}

GlWindow::~GlWindow() {
  if (state->fullscreen) {
    SDL_SetWindowFullscreen(state->window, 0);
    SDL_ShowCursor(SDL_ENABLE);
  }
  if (state->fillDesktop) {
    SDL_ShowCursor(SDL_ENABLE);
    messages.fittedWidth = messages.fittedHeight = 0;
  }
  if (state->glContext) {
    SDL_GL_MakeCurrent(state->window, nullptr);
    SDL_GL_DeleteContext(state->glContext);
  }
  if (state->window)
    SDL_DestroyWindow(state->window);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

double GlWindow::swapBuffers() {
  SDL_GL_SwapWindow(state->window);
  return 0.0;
}

WindowHandle GlWindow::handle() const {
  return reinterpret_cast<WindowHandle>(state->window);
}

// Installed before SDL starts, which then leaves them in place (SDL only
// takes signals that have no handler yet, and would turn them into an event
// that nothing reads while the error box is up).
void handleQuitSignals() {
  struct sigaction action {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

bool pumpMessages() {
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    switch (event.type) {
    case SDL_QUIT:
      messages.quitPosted = true;
      break;
    case SDL_WINDOWEVENT:
      // A close request quits and leaves the window to the destructor. SDL
      // keeps the screen saver off by itself (SDL_DisableScreenSaver).
      if (event.window.event == SDL_WINDOWEVENT_CLOSE)
        messages.quitPosted = true;
      else if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED && messages.fittedWidth > 0)
        viewPicture(SDL_GetWindowFromID(event.window.windowID), messages.fittedWidth,
                    messages.fittedHeight);
      break;
    case SDL_KEYDOWN:
      switch (event.key.keysym.scancode) {
      case SDL_SCANCODE_ESCAPE:
        messages.escapeLatched = true;
        break;
      case SDL_SCANCODE_SPACE:
        messages.controls.add(ControlKey::PauseResume);
        break;
      case SDL_SCANCODE_LEFT:
        messages.controls.add(ControlKey::Back);
        break;
      case SDL_SCANCODE_RIGHT:
        messages.controls.add(ControlKey::Forward);
        break;
      case SDL_SCANCODE_HOME:
        messages.controls.add(ControlKey::ToStart);
        break;
      default:
        break;
      }
      break;
    }
  }
  bool quit = messages.quitPosted || quitSignalled;
  messages.quitPosted = false;
  return quit;
}

bool escapePressed() {
  const Uint8* keys = SDL_GetKeyboardState(nullptr);
  bool pressed = messages.escapeLatched || (keys && keys[SDL_SCANCODE_ESCAPE]);
  messages.escapeLatched = false;
  return pressed;
}

ControlPresses controlKeysPressed() {
  const ControlPresses pressed = messages.controls;
  messages.controls = ControlPresses();
  return pressed;
}

void showErrorBox(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
  if (quitSignalled) // asked to end already: no box to answer
    return;
  // SDL shows the box from a helper process that it forks and waits for. The
  // box gets a process of its own, in a group of its own, so that a
  // termination signal can take down the box and that helper together.
  const pid_t box = fork();
  if (box == 0) {
    setpgid(0, 0);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Error", text, nullptr);
    _exit(0);
  }
  if (box < 0) {
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Error", text, nullptr);
    return;
  }
  setpgid(box, box); // here too, so that the group exists before the handler needs it
  errorBoxGroup = box;
  // A signal that came before the box's group was known is seen here.
  if (quitSignalled)
    onQuitSignal(SIGTERM);
  while (waitpid(box, nullptr, 0) < 0 && errno == EINTR) {
  }
  errorBoxGroup = 0;
}

void runFrames(bool (*frame)(void* context), void (*finish)(void* context), void* context) {
  while (frame(context)) {
  }
  finish(context);
}
