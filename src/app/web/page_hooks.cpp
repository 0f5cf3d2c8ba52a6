// What the page calls besides main: the check of the show times in its
// address, a still frame of the show at a given time, drawn the way the
// capture tool draws it on the desktop, the music clock and the track's length
// for the page's timeline, and the timeline's seek.
#include "app/guarded.h"
#include "app/playback_controls.h"
#include "app/scene_script.h"
#include "app/show.h"
#include "audio/player/music_player.h"
#include "fixed_texts.h"
#include "platform/gl_window.h"

#include <GL/gl.h>
#include <emscripten.h>

#include <algorithm>
#include <string>

namespace {

// The canvas and the show's assets for still frames, made on the first one.
struct Still {
  GlWindow window{WindowDescription{kWindowTitle, 640, 480}};
  Show show;
  Still() { loadShow(show); }
};

void drawStill(float seconds, Flashing flashing) {
  static Still still;
  still.show.flashing = flashing;
  // In a run from the start, blending is on from the first overlay frame on
  // (beat 32), and the mesh is then drawn additively too.
  if (beatTimeOf(seconds) > 32.0f) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
  } else {
    glDisable(GL_BLEND);
  }
  drawFrame(still.show, seconds);
  glFlush();
}

} // namespace

// Reads `text`, a show time from the page's address given as `parameter`
// ("?t=", "?at="), as --start-at reads it, and no later than the show's end:
// "" when taken, else the refusal with the range taken.
extern "C" EMSCRIPTEN_KEEPALIVE const char* vizShowTimeRefusal(const char* parameter,
                                                               const char* text) {
  static std::string refusal;
  float seconds = 0.0f;
  const float showSeconds = static_cast<float>(std::max(0.0, musicLength()));
  refusal = readShowSeconds(parameter, text, showSeconds, seconds);
  return refusal.c_str();
}

// Draws the frame for `seconds` of show time, without sound, with reduced
// flashing when `reducedFlashing` is not 0; 1 when drawn, 0 when a failure was
// shown instead.
extern "C" EMSCRIPTEN_KEEPALIVE int vizRenderAt(float seconds, int reducedFlashing) {
  const Flashing flashing = reducedFlashing != 0 ? Flashing::Reduced : Flashing::AsComposed;
  return guarded([&] { drawStill(seconds, flashing); }, showErrorBox) ? 1 : 0;
}

// Seconds of music heard, as the frames are drawn for them.
extern "C" EMSCRIPTEN_KEEPALIVE float vizMusicTime() {
  return MusicPlayer::currentTime();
}

// The track's length in seconds; 0 before the show has started.
extern "C" EMSCRIPTEN_KEEPALIVE float vizTrackLength() {
  return MusicPlayer::trackLength();
}

// Moves the running show to `seconds` (clamped to the track), as the keys
// do: the frame loop sees the clock jump and draws from there.
extern "C" EMSCRIPTEN_KEEPALIVE void vizSeek(float seconds) {
  MusicPlayer::seek(seconds);
}
