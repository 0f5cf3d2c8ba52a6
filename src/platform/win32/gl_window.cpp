// Win32 + WGL backend of the platform layer.
#include "platform/gl_window.h"

#include <windows.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstring>

namespace {

const char kClassName[] = "WGLWindow";

HWND nativeWindow(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

LRESULT CALLBACK classWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return GlWindow::windowProc(reinterpret_cast<WindowHandle>(window), message, wParam, lParam);
}

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

} // namespace

GlWindow::GlWindow(const char* title, int width, int height, int colourBits, int depthBits,
                   int displayMode, bool fullscreen, bool fillDesktop)
    : title(title), fullscreen(fullscreen), fillDesktop(fillDesktop && !fullscreen) {
  DEVMODEA mode;
  std::memset(&mode, 0, sizeof mode);
  mode.dmSize = sizeof mode;
  if (displayMode < 0) {
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = colourBits;
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
  } else {
    mode.dmDriverExtra = 0;
    EnumDisplaySettingsA(nullptr, static_cast<DWORD>(displayMode), &mode);
    colourBits = static_cast<int>(mode.dmBitsPerPel);
    width = static_cast<int>(mode.dmPelsWidth);
    height = static_cast<int>(mode.dmPelsHeight);
  }
  this->colourBits = colourBits;
  this->width = width;
  this->height = height;

  window = createWindow();

  if (fullscreen) {
    if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL)
      throw std::string("Failed to change display settings");
    ShowCursor(FALSE);
  }
  if (this->fillDesktop)
    ShowCursor(FALSE);

  PixelFormatRequest format;
  format.colourBits = static_cast<std::uint8_t>(colourBits);
  format.depthBits = static_cast<std::uint8_t>(depthBits);
  createContext(window, format);
  if (this->fillDesktop)
    viewPicture(nativeWindow(window), width, height);
}

GlWindow::~GlWindow() {
  if (fullscreen) {
    ChangeDisplaySettingsA(nullptr, 0);
    ShowCursor(TRUE);
  }
  if (fillDesktop)
    ShowCursor(TRUE);
  if (glContext) {
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(reinterpret_cast<HGLRC>(glContext));
    glContext = nullptr;
  }
  if (deviceContext)
    ReleaseDC(nativeWindow(window), reinterpret_cast<HDC>(deviceContext));
  if (window)
    DestroyWindow(nativeWindow(window));
  UnregisterClassA(kClassName, reinterpret_cast<HINSTANCE>(instance));
}

WindowHandle GlWindow::createWindow() {
  HINSTANCE moduleInstance = GetModuleHandleA(nullptr);
  instance = reinterpret_cast<ModuleHandle>(moduleInstance);

  WNDCLASSA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
  windowClass.lpfnWndProc = classWindowProc;
  windowClass.hInstance = moduleInstance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;

  WNDCLASSA existing;
  if (!GetClassInfoA(moduleInstance, kClassName, &existing) && !RegisterClassA(&windowClass))
    throw std::string("Failed to Register window class");

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
                                 moduleInstance, nullptr);
  if (!created)
    throw std::string("Failed to create window");
  return reinterpret_cast<WindowHandle>(created);
}

void GlWindow::createContext(WindowHandle window, PixelFormatRequest format) {
  PIXELFORMATDESCRIPTOR descriptor;
  std::memset(&descriptor, 0, sizeof descriptor);
  descriptor.nSize = sizeof descriptor;
  descriptor.nVersion = 1;
  descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  descriptor.iPixelType = PFD_TYPE_RGBA;
  descriptor.cColorBits = format.colourBits;
  descriptor.cDepthBits = format.depthBits;
  descriptor.cStencilBits = format.stencilBits;
  descriptor.iLayerType = PFD_MAIN_PLANE;

  HDC dc = GetDC(nativeWindow(window));
  deviceContext = reinterpret_cast<DeviceContextHandle>(dc);
  int pixelFormat = ChoosePixelFormat(dc, &descriptor);
  if (pixelFormat == 0)
    throw std::string("Failed to choose pixelformat");
  SetPixelFormat(dc, pixelFormat, &descriptor);
  HGLRC context = wglCreateContext(dc);
  if (!context)
    throw std::string("Failed to create OpenGL context");
  glContext = reinterpret_cast<GlContextHandle>(context);
  wglMakeCurrent(dc, context);
}

void GlWindow::swapBuffers() {
  SwapBuffers(reinterpret_cast<HDC>(deviceContext));
}

std::intptr_t GlWindow::windowProc(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                   std::intptr_t lParam) {
  switch (message) {
  case kMessageClose:
    PostQuitMessage(0);
    return 0;
  case kMessageSysCommand:
    // The whole value is compared: these two requests are swallowed so that
    // neither the screen saver nor monitor power-down interrupts the show.
    if (wParam == kSysCommandScreenSave || wParam == kSysCommandMonitorPower)
      return 0;
    break;
  }
  return DefWindowProcA(nativeWindow(window), message, wParam, lParam);
}

// A console program on Windows ends on Ctrl+C by itself; there are no other
// termination requests to turn into a quit message.
void handleQuitSignals() {}

bool pumpMessages() {
  bool quit = false;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
    if (message.message == kMessageQuit)
      quit = true;
  }
  return quit;
}

bool escapePressed() {
  return GetAsyncKeyState(VK_ESCAPE) != 0;
}

void showErrorBox(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
  MessageBoxA(nullptr, text, nullptr, MB_OK);
}
