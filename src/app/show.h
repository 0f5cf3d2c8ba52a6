#pragma once

#include "app/key_track.h"
#include "app/scene_script.h"
#include "platform/gl_window.h"

#include <chrono>

class SceneObject;
class Texture;

// The objects of the show. The mesh and the textures belong to the caches and
// the scene object lives as long as the process; the fade track is owned here.
struct Show {
  SceneObject* sceneObject = nullptr;
  Texture* environmentTexture = nullptr;
  Texture* logoTexture = nullptr;
  Texture* creditsTexture = nullptr;
  KeyTrack fadeTrack;
  // Chosen on the command line (or the page's address) before the first frame.
  Flashing flashing = Flashing::AsComposed;
};

// The whole start-up: sound on the window ("fuck!" when there is none), the
// track "kelvo.ogg" ("jalla" when it cannot be opened), the show's GL state
// and assets, and, last, the music streaming thread. Throws a std::string.
// The music starts at `startSeconds` into the track (clamped to it).
void startShow(Show& show, WindowHandle window, float startSeconds = 0.0f);

// The show's GL state and assets, in their order: what startShow does
// between opening the music and starting it. Needs a current GL context;
// throws the caches' error texts.
void loadShow(Show& show);

// Stops the music and releases the sound device. Safe to run again.
void releaseShow();

// The show's length: its music's in seconds, read from the data set, or a
// negative number when the track cannot be opened.
double musicLength();

// The listener's calibration of the sound's delay, for setups whose latency
// no device reports: a signed number of milliseconds in this environment
// variable holds the picture back by as much (ahead when negative).
inline constexpr const char* kAudioCalibrationVariable = "VIRIZ_AUDIO_OFFSET_MS";
inline constexpr long kLongestCalibrationMs = 2000;

// The calibration in `text` (the variable's value, or null); 0 when unset,
// and 0 with a word on standard error when it is not a number in range.
std::chrono::milliseconds audioCalibration(const char* text);
