// Browser backend of the platform layer. The window is the page's canvas with
// a WebGL context, made through emscripten's SDL 1.2 layer, which also gives
// the fixed-function GL emulation its context. There is no display mode to
// switch: the page scales the canvas and offers fullscreen itself. The frame
// loop runs from the page's animation timer, the message pump reads the SDL
// layer's events (Escape) and the page's going away, and the error box is an
// element of the page.
#include "platform/gl_window.h"

#include "fixed_texts.h"
#include "platform/web/compositor_pipeline.h"

#include <GL/gl.h>
#include <SDL/SDL.h>
#include <emscripten.h>

#include <cstdio>
#include <string>

namespace {

// What the message pump and the input calls share. Only the main thread
// touches it.
struct Messages {
  bool quitPosted = false;    // the page is going away
  bool escapeLatched = false; // Escape pressed since the last poll
  ControlPresses controls;    // control keys pressed since the last poll
};
Messages messages;

// The frame loop handed to the animation timer.
struct FrameLoop {
  bool (*frame)(void*) = nullptr;
  void (*finish)(void*) = nullptr;
  void* context = nullptr;
  bool running = false;
  double frameBeganMs = 0.0; // when the frame being drawn began (page clock)
};
FrameLoop frameLoop;

void runOneFrame() {
  frameLoop.frameBeganMs = emscripten_get_now();
  if (frameLoop.frame(frameLoop.context))
    return;
  emscripten_cancel_main_loop();
  frameLoop.running = false;
  frameLoop.finish(frameLoop.context);
  EM_ASM({
    if (Module.onShowEnded)
      Module.onShowEnded();
  });
}

} // namespace

// Closing the page (or leaving it) is the window's close request. No
// animation frame comes after it, so the frame that sees the quit message
// runs at once, and the show ends as it does on Escape.
extern "C" EMSCRIPTEN_KEEPALIVE void vizPageHidden() {
  messages.quitPosted = true;
  if (frameLoop.running)
    runOneFrame();
}

namespace {

// The page shows the text in its error element (and keeps it for tests).
EM_JS(void, showErrorInPage, (const char* text), {
  if (Module.onError)
    Module.onError(UTF8ToString(text));
});

// Fixed-function GL clamps each vertex's colour to [0, 1] before it is
// interpolated across a triangle; the emulation's vertex shader passes the
// colour on unclamped when lighting is off, and the show's colour ring goes
// far below 0, which would darken whole triangles. The emulation makes its
// shaders on the fly, so their source is corrected on the way to WebGL.
EM_JS(void, clampVertexColours, (), {
  const context = Module.ctx;
  const shaderSource = context.shaderSource;
  context.shaderSource = function(shader, source) {
    shaderSource.call(context, shader,
                      source.replace('v_color = a_color;', 'v_color = clamp(a_color, 0.0, 1.0);'));
  };
});

} // namespace

struct GlWindow::State {
  SDL_Surface* surface = nullptr;
  CompositorPipeline pipeline;
};

// The canvas has the page's size and place: only the size, the colour depth
// and the depth buffer of the description count.
GlWindow::GlWindow(const WindowDescription& description) : state(new State) {
  if (SDL_Init(SDL_INIT_VIDEO) != 0)
    throw std::string(kRegisterWindowClassFailedText);
  width = description.width;
  height = description.height;
  if (SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1) != 0 ||
      SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, description.depthBits) != 0 ||
      SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8) != 0)
    throw std::string(kChoosePixelFormatFailedText);
  state->surface = SDL_SetVideoMode(width, height, description.colourBits, SDL_OPENGL);
  if (!state->surface)
    throw std::string(kCreateContextFailedText);
  clampVertexColours();
  messages.quitPosted = false;
}

// The context belongs to the canvas and goes with the page.
GlWindow::~GlWindow() = default;

namespace {

// When the animation frame being drawn began, on the page's clock (ms): the
// time its callbacks were given. 0 outside one.
EM_JS(double, animationFrameMs, (), { return document.timeline.currentTime || 0; });

} // namespace

// The browser takes the canvas's frame when the frame's callback returns, and
// shows it when its compositing pipeline is through with it.
double GlWindow::swapBuffers() {
  SDL_GL_SwapBuffers();
  return state->pipeline.untilShown(animationFrameMs(), frameLoop.frameBeganMs,
                                    emscripten_get_now());
}

WindowHandle GlWindow::handle() const {
  return reinterpret_cast<WindowHandle>(state->surface);
}

// A page gets no signals: closing it arrives as an event (see vizPageHidden).
void handleQuitSignals() {}

static void keyPressed(SDL_Keycode key) {
  switch (key) {
  case SDLK_ESCAPE:
    messages.escapeLatched = true;
    break;
  case SDLK_SPACE:
    messages.controls.add(ControlKey::PauseResume);
    break;
  case SDLK_LEFT:
    messages.controls.add(ControlKey::Back);
    break;
  case SDLK_RIGHT:
    messages.controls.add(ControlKey::Forward);
    break;
  case SDLK_HOME:
    messages.controls.add(ControlKey::ToStart);
    break;
  default:
    break;
  }
}

bool pumpMessages() {
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (event.type == SDL_QUIT)
      messages.quitPosted = true;
    else if (event.type == SDL_KEYDOWN)
      keyPressed(event.key.keysym.sym);
  }
  bool quit = messages.quitPosted;
  messages.quitPosted = false;
  return quit;
}

bool escapePressed() {
  bool pressed = messages.escapeLatched;
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
  showErrorInPage(text);
}

// One frame per animation frame of the page (0 frames per second asks for
// exactly that); returns at once, leaving the loop to the browser.
void runFrames(bool (*frame)(void* context), void (*finish)(void* context), void* context) {
  frameLoop = {frame, finish, context, true};
  EM_ASM({
    window.addEventListener(
        'pagehide', function() { Module._vizPageHidden(); });
  });
  emscripten_set_main_loop(runOneFrame, 0, 0);
}
