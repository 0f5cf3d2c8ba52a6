// Ogg Vorbis encoding of the rendered music.
#pragma once

#include "synth.h"

#include <string>

namespace assets_gen {

// Encodes stereo 44.1 kHz audio with variable bit rate at `quality`
// (-0.1 .. 1.0) into `path`. The stream serial number is a constant, so the
// same samples always give the same file. Throws std::runtime_error.
void writeOggVorbis(const std::string& path, const StereoBuffer& audio, float quality);

} // namespace assets_gen
