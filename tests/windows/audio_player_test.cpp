// Plays data/track.ogg through the music player on a plain window for a given
// number of seconds, watching the clock, or (with "no-device") checks that
// sound initialisation fails cleanly when there is no audio server.
//
//   audio_player_test play <seconds>   exit 0 when the clock ran to <seconds>
//                                      and never went back
//   audio_player_test no-device        exit 0 when initSound reports failure
#include "archive/data_file.h"
#include "audio/player/music_player.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND createWindow() {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "viriz-audio-test";
  RegisterClassA(&windowClass);
  return CreateWindowA("viriz-audio-test", "audio test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                       320, 240, nullptr, nullptr, instance, nullptr);
}

void pumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

int expectNoDevice(HWND window) {
  const bool opened = MusicPlayer::initSound(reinterpret_cast<WindowHandle>(window));
  MusicPlayer::stop();
  MusicPlayer::stop();
  std::printf("initSound %s\n", opened ? "succeeded" : "failed");
  return opened ? 1 : 0;
}

int play(HWND window, float seconds) {
  if (!MusicPlayer::initSound(reinterpret_cast<WindowHandle>(window))) {
    std::printf("initSound failed\n");
    MusicPlayer::stop();
    return 2;
  }
  if (!MusicPlayer::openMusic(loadDataFile("data/track.ogg"), 0.0f)) {
    std::printf("openMusic failed\n");
    MusicPlayer::stop();
    return 2;
  }
  MusicPlayer::startStreaming();
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000) + 20000;
  float previous = 0.0f;
  float largestStep = 0.0f;
  int backwards = 0;
  while (previous < seconds && GetTickCount64() < deadline) {
    pumpMessages();
    const float now = MusicPlayer::currentTime();
    if (now < previous)
      ++backwards;
    if (now - previous > largestStep)
      largestStep = now - previous;
    previous = now;
    Sleep(1);
  }
  MusicPlayer::stop();
  MusicPlayer::stop();
  std::printf("clock %.3f s, largest step %.4f s, went back %d times\n", previous, largestStep,
              backwards);
  return previous >= seconds && backwards == 0 ? 0 : 3;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "no-device") == 0)
    return expectNoDevice(createWindow());
  if (argc == 3 && std::strcmp(argv[1], "play") == 0)
    return play(createWindow(), static_cast<float>(std::atof(argv[2])));
  std::fprintf(stderr, "usage: audio_player_test play <seconds> | no-device\n");
  return 64;
}
