#pragma once

#include "audio/ring_playback.h"
#include "audio/sound_buffer.h"

#include <cstdint>

// SoundBuffer for the outputs that pull their music from a software ring
// (linux/ and web/): ring_sound_buffer.cpp does the locking, positioning and
// cursor arithmetic once, over the backend's RingPlayback. The backend's own
// file defines SoundBuffer::State, the constructor and destructor, create(),
// release() and outputLatencyBytes(), and the four calls below.
namespace RingOutput {

// The state's ring once create() has opened the output; null before that,
// after a failed create() and for a null state.
RingPlayback* openRing(SoundBuffer::State* state);
// Starts the output taking from the ring; called once per playback.
void start(SoundBuffer::State& state);
// The ring was positioned anew: what is played counts from here. The player
// positions only before it starts playing.
void positioned(SoundBuffer::State& state);
// Bytes played since the last positioning, never going back; asked only
// while playing.
std::uint64_t playedBytes(SoundBuffer::State& state);

} // namespace RingOutput
