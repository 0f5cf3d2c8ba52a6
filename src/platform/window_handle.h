#pragma once

// The native window the sound device attaches to, opaque to portable code: the
// Win32 backend hands out its HWND (DirectSound's cooperative level needs
// one); backends whose sound needs no window hand out whatever they have.
using WindowHandle = struct NativeWindow*;
