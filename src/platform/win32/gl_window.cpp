// Win32 + WGL backend of the platform layer.
#include "platform/gl_window.h"

#include "fixed_texts.h"

#include <windows.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <string>

// The window, its class and its GL context, in the order they are made.
struct GlWindow::State {
  std::string title;
  bool fullscreen = false;
  bool fillDesktop = false;
  HINSTANCE instance = nullptr;
  HWND window = nullptr;
  HDC deviceContext = nullptr;
  HGLRC glContext = nullptr;

  HWND createWindow(int width, int height);
  void createContext(HWND window, PIXELFORMATDESCRIPTOR descriptor);
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

namespace {

const char kClassName[] = "WGLWindow";

// The picture goes into the middle of the client area, scaled with its
// aspect kept. Only the viewport changes: the show clears to black, which
// leaves the bars black, and its geometry is clipped to the viewport.
void viewPicture(HWND window, int pictureWidth, int pictureHeight) {
  RECT client;
  if (!GetClientRect(window, &client))
    return;
  const PictureArea area = fitPicture(pictureWidth, pictureHeight, client.right - client.left,
                                      client.bottom - client.top);
  glViewport(area.x, area.y, area.width, area.height);
}

PIXELFORMATDESCRIPTOR pixelFormat(int colourBits, int depthBits) {
  PIXELFORMATDESCRIPTOR descriptor;
  std::memset(&descriptor, 0, sizeof descriptor);
  descriptor.nSize = sizeof descriptor;
  descriptor.nVersion = 1;
  descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  descriptor.iPixelType = PFD_TYPE_RGBA;
  descriptor.cColorBits = static_cast<BYTE>(colourBits);
  descriptor.cDepthBits = static_cast<BYTE>(depthBits);
  descriptor.cStencilBits = 8;
  descriptor.iLayerType = PFD_MAIN_PLANE;
  return descriptor;
}

} // namespace

GlWindow::GlWindow(const WindowDescription& description) : state(new State) {
  state->title = description.title;
  state->fullscreen = description.fill == ScreenFill::SwitchMode;
  state->fillDesktop = description.fill == ScreenFill::FillDesktop;
  int width = description.width;
  int height = description.height;
  int colourBits = description.colourBits;
  DEVMODEA mode;
  std::memset(&mode, 0, sizeof mode);
  mode.dmSize = sizeof mode;
  if (description.displayMode < 0) {
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = colourBits;
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
  } else {
    mode.dmDriverExtra = 0;
    EnumDisplaySettingsA(nullptr, static_cast<DWORD>(description.displayMode), &mode);
    colourBits = static_cast<int>(mode.dmBitsPerPel);
    width = static_cast<int>(mode.dmPelsWidth);
    height = static_cast<int>(mode.dmPelsHeight);
  }
  this->width = width;
  this->height = height;

  state->window = state->createWindow(width, height);

  if (state->fullscreen) {
    if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL)
      throw std::string(kDisplaySettingsFailedText);
    ShowCursor(FALSE);
  }
  if (state->fillDesktop)
    ShowCursor(FALSE);

  state->createContext(state->window, pixelFormat(colourBits, description.depthBits));
  if (state->fillDesktop)
    viewPicture(state->window, width, height);
}

GlWindow::~GlWindow() {
  if (state->fullscreen) {
    ChangeDisplaySettingsA(nullptr, 0);
    ShowCursor(TRUE);
  }
  if (state->fillDesktop)
    ShowCursor(TRUE);
  if (state->glContext) {
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(state->glContext);
    state->glContext = nullptr;
  }
  if (state->deviceContext)
    ReleaseDC(state->window, state->deviceContext);
  if (state->window)
    DestroyWindow(state->window);
  UnregisterClassA(kClassName, state->instance);
}

HWND GlWindow::State::createWindow(int width, int height) {
  instance = GetModuleHandleA(nullptr);

  WNDCLASSA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;

  WNDCLASSA existing;
  if (!GetClassInfoA(instance, kClassName, &existing) && !RegisterClassA(&windowClass))
    throw std::string(kRegisterWindowClassFailedText);

  RECT rect = {0, 0, width, height};
  DWORD style;
  if (fullscreen) {
    style = WS_POPUP;
  } else if (fillDesktop) {
    // The primary display at its current mode, without a frame.
    style = WS_POPUP;
    rect.right = GetSystemMetrics(SM_CXSCREEN);
    rect.bottom = GetSystemMetrics(SM_CYSCREEN);
  } else {
    style = WS_CAPTION | WS_SYSMENU;
    AdjustWindowRect(&rect, style, FALSE);
  }

  HWND created = CreateWindowExA(0, kClassName, title.c_str(), style | WS_VISIBLE, 0, 0,
                                 rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                                 instance, nullptr);
  if (!created)
    throw std::string(kCreateWindowFailedText);
  return created;
}

void GlWindow::State::createContext(HWND window, PIXELFORMATDESCRIPTOR descriptor) {
  deviceContext = GetDC(window);
  int format = ChoosePixelFormat(deviceContext, &descriptor);
  if (format == 0)
    throw std::string(kChoosePixelFormatFailedText);
  SetPixelFormat(deviceContext, format, &descriptor);
  glContext = wglCreateContext(deviceContext);
  if (!glContext)
    throw std::string(kCreateContextFailedText);
  wglMakeCurrent(deviceContext, glContext);
}

double GlWindow::swapBuffers() {
  SwapBuffers(state->deviceContext);
  return 0.0;
}

WindowHandle GlWindow::handle() const {
  return reinterpret_cast<WindowHandle>(state->window);
}

LRESULT CALLBACK GlWindow::State::windowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  switch (message) {
  case WM_CLOSE:
    PostQuitMessage(0);
    return 0;
  case WM_SYSCOMMAND:
    // The whole value is compared: these two requests are swallowed so that
    // neither the screen saver nor monitor power-down interrupts the show.
    if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER)
      return 0;
    break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// A console program on Windows ends on Ctrl+C by itself; there are no other
// termination requests to turn into a quit message.
void handleQuitSignals() {}

namespace {

// Control keys pressed since the last poll. Only the main thread touches it.
ControlPresses controlsPressed;

void keyPressed(WPARAM key) {
  switch (key) {
  case VK_SPACE:
    controlsPressed.add(ControlKey::PauseResume);
    break;
  case VK_LEFT:
    controlsPressed.add(ControlKey::Back);
    break;
  case VK_RIGHT:
    controlsPressed.add(ControlKey::Forward);
    break;
  case VK_HOME:
    controlsPressed.add(ControlKey::ToStart);
    break;
  default:
    break;
  }
}

} // namespace

bool pumpMessages() {
  bool quit = false;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_KEYDOWN)
      keyPressed(message.wParam);
    TranslateMessage(&message);
    DispatchMessageA(&message);
    if (message.message == WM_QUIT)
      quit = true;
  }
  return quit;
}

ControlPresses controlKeysPressed() {
  const ControlPresses pressed = controlsPressed;
  controlsPressed = ControlPresses();
  return pressed;
}

bool escapePressed() {
  return GetAsyncKeyState(VK_ESCAPE) != 0;
}

void showErrorBox(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
  MessageBoxA(nullptr, text, nullptr, MB_OK);
}

void runFrames(bool (*frame)(void* context), void (*finish)(void* context), void* context) {
  while (frame(context)) {
  }
  finish(context);
}
