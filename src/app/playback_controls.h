#pragma once

#include "platform/gl_window.h"

#include <string>

// What the control keys do to playback, worked out from where the show
// stands, so that the frame loop only carries it out.

// Left and Right move this far back and forward.
inline constexpr float kSeekStepSeconds = 5.0f;

// The outcome of a frame's control keys.
struct PlaybackRequest {
  bool paused = false; // whether playback is to be paused afterwards
  bool seek = false;   // whether to move, and where to
  float seekTo = 0.0f;
};

// Applies `presses` in their order to a show at `nowSeconds` of a track of
// `trackSeconds` (0: unknown, no upper bound), paused or not: Space toggles
// the pause, Left and Right move kSeekStepSeconds (several presses add up),
// Home goes back to the start. Moves are clamped to the track.
PlaybackRequest playbackRequest(const ControlPresses& presses, float nowSeconds, bool paused,
                                float trackSeconds);

// Reads a number of seconds into the show (--start-at): a plain decimal
// number (digits and a decimal point, up to a million), nothing else. False
// for anything else.
bool parseShowSeconds(const char* text, float& seconds);

// Reads `text`, given for `what` (an option or a parameter of the page's
// address), as a number of seconds into a show of `showSeconds` (0 when its
// length is unknown): what parseShowSeconds takes, no later than the show's
// end. Empty when taken (`seconds` then holds it), else the refusal: a
// sentence with the range taken and the text quoted.
std::string readShowSeconds(const char* what, const char* text, float showSeconds, float& seconds);
