// The music of the show: an original piece at 200 beats per minute whose
// sections change on the beats where the picture changes.
#pragma once

#include "synth.h"

namespace assets_gen {

constexpr double kBeatSeconds = 0.3;
// Beats where the arrangement changes: the groove starts with the logo, the
// faster part with the fast camera, the finale with the credits.
constexpr int kGrooveBeat = 32;
constexpr int kDriveBeat = 96;
constexpr int kFinaleBeat = 160;
constexpr int kEndingBeat = 224;
constexpr int kSongBeats = 240;
// Time after the last beat for the final chord and the reverb to die away.
constexpr double kTailSeconds = 2.0;

int64_t beatToSample(double beat);

// Renders the whole piece, normalised to a peak just below full scale.
StereoBuffer renderSong();

} // namespace assets_gen
