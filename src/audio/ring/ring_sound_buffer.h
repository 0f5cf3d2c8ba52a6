#pragma once

#include "audio/ring/pcm_ring.h"
#include "audio/sound_buffer.h"

// SoundBuffer for the outputs that pull their music from a PcmRing (linux/
// and web/): ring_sound_buffer.cpp does the locking, positioning and the play
// cursor once. The backend's own file defines SoundBuffer::State, the
// constructor and destructor, create() and release(), and the four calls
// below.

// The state's ring once create() has opened the output; null before that,
// after a failed create() and for a null state.
PcmRing* openRing(SoundBuffer::State* state);
// Starts the output taking from the ring; called once per playback.
void startOutput(SoundBuffer::State& state);
// The ring was positioned anew: what is heard counts from here. The player
// positions only before it starts playing.
void outputPositioned(SoundBuffer::State& state);
// The output's newest report of what is heard since the last positioning;
// false while it has none. Asked only while playing.
bool outputHeard(SoundBuffer::State& state, HeardReport& report);
