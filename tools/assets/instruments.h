// The instruments of the music: each renders one note or hit into a mono
// buffer at 44.1 kHz, starting at its onset and long enough for its tail.
#pragma once

#include "synth.h"

#include <vector>

namespace assets_gen {

std::vector<float> kick();
std::vector<float> snare(Noise& noise);
std::vector<float> closedHat(Noise& noise);
std::vector<float> openHat(Noise& noise);
std::vector<float> crash(Noise& noise);

// Notes are MIDI note numbers; `seconds` is how long the key is held.
std::vector<float> bassNote(float note, float seconds);
std::vector<float> padNote(float note, float seconds, float cutoffHz);
std::vector<float> leadNote(float note, float seconds);
std::vector<float> pluckNote(float note, float brightness);
std::vector<float> chordStab(const std::vector<float>& notes);

// A noise sweep rising in pitch and loudness over `seconds`.
std::vector<float> riser(Noise& noise, float seconds);

} // namespace assets_gen
