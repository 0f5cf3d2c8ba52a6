#include "app/playback_controls.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

PlaybackRequest playbackRequest(const ControlPresses& presses, float nowSeconds, bool paused,
                                float trackSeconds) {
  PlaybackRequest request;
  request.paused = paused;
  float position = nowSeconds;
  const float end = trackSeconds > 0.0f ? trackSeconds : INFINITY;
  for (int i = 0; i < presses.count; ++i) {
    switch (presses.keys[i]) {
    case ControlKey::PauseResume:
      request.paused = !request.paused;
      continue;
    case ControlKey::Back:
      position -= kSeekStepSeconds;
      break;
    case ControlKey::Forward:
      position += kSeekStepSeconds;
      break;
    case ControlKey::ToStart:
      position = 0.0f;
      break;
    }
    position = std::clamp(position, 0.0f, end);
    request.seek = true;
    request.seekTo = position;
  }
  return request;
}

bool parseShowSeconds(const char* text, float& seconds) {
  if (!text || !*text || std::strspn(text, "0123456789.") != std::strlen(text))
    return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0.0 || value > 1e6)
    return false;
  seconds = static_cast<float>(value);
  return true;
}
