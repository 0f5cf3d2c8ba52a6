#include "app/playback_controls.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
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

namespace {

// The text as a refusal quotes it: its first kQuotedLength bytes, control
// bytes as '?', so that no text can garble the terminal or the page.
constexpr std::size_t kQuotedLength = 40;

std::string quoted(const char* text) {
  std::string quote = "\"";
  const std::size_t length = std::strlen(text);
  for (std::size_t i = 0; i < std::min(length, kQuotedLength); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    quote += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
  }
  return quote + (length > kQuotedLength ? "...\"" : "\"");
}

// ", 0 or more", or the range up to the show's length, its end in tenths
// rounded down so that every time named is taken.
std::string rangeTaken(float showSeconds) {
  if (showSeconds <= 0.0f)
    return ", 0 or more";
  char range[64];
  std::snprintf(range, sizeof range, " from 0 to %.1f (the show's length)",
                std::floor(static_cast<double>(showSeconds) * 10.0) / 10.0);
  return range;
}

} // namespace

std::string readShowSeconds(const char* what, const char* text, float showSeconds, float& seconds) {
  float read = 0.0f;
  if (parseShowSeconds(text, read) && (showSeconds <= 0.0f || read <= showSeconds)) {
    seconds = read;
    return {};
  }
  std::string refusal = std::string(what) + " needs a number of seconds" + rangeTaken(showSeconds);
  return text ? refusal + ": " + quoted(text) : refusal;
}
