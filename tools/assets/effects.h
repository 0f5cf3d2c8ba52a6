// Send effects applied to whole stereo buses after the notes are mixed.
#pragma once

#include "synth.h"

namespace assets_gen {

// Echoes that alternate between the channels; returns only the echoes.
StereoBuffer pingPongDelay(const StereoBuffer& dry, float delaySeconds, float feedback);

// A small room: parallel damped comb filters into series all-pass filters,
// tuned slightly differently per channel for width; returns only the reverb.
StereoBuffer reverb(const StereoBuffer& dry, float roomSize, float damping);

} // namespace assets_gen
