// Opens the listener's recording of the default output's monitor, as the
// DirectSound backend does under Wine, and keeps it open until a file
// appears, so that the sound server can be asked what is recorded.
//
//   monitor_capture_test <stop file>   prints "listening" and records until
//                                      <stop file> exists (at most 120 s), or
//                                      prints "not listening: <why>"; exit 0
#include "audio/dsound/monitor_capture.h"

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: monitor_capture_test <stop file>\n");
    return 64;
  }
  MonitorCapture capture;
  const char* failure = "";
  if (!capture.open(failure)) {
    std::printf("not listening: %s\n", failure);
    return 0;
  }
  std::printf("listening\n");
  std::fflush(stdout);
  const ULONGLONG deadline = GetTickCount64() + 120'000;
  MonitorPacket packet;
  while (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline) {
    while (capture.next(packet)) {
    }
    Sleep(20);
  }
  return 0;
}
