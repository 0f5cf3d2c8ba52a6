#pragma once

#include "audio/sound_buffer.h"

#include <chrono>
#include <cstdint>

struct DataFile;

// The demo's music and its only clock: one Ogg Vorbis track, decoded from
// memory by a worker thread into a looping one-second SoundBuffer, and the
// number of seconds heard so far. One process-wide instance; every call is
// made from the main thread.
//
// Streaming keeps the demo's fixed steps on every device: the buffer of one
// second shaped like a DirectSound buffer, filled whole and then refilled
// every 100 ms up to the play cursor. The clock does not come from those
// steps but from the device's reports of what is heard (HeardReport), which
// HeardClock follows by one rule for every build. Where "heard" comes from:
// - Linux, on a PulseAudio-protocol server (PulseAudio, PipeWire): the
//   server's timing reports, what the sink has played out less what it still
//   holds (its device latency included);
// - Linux through SDL2: the audio callback's read position;
// - Windows: the DirectSound play cursor, less the output latency that the
//   audio layer reports under Wine or, under Wine with a monitor to listen
//   to, the latency measured by matching the monitor's recording against the
//   music written; nothing is subtracted on Windows itself;
// - the browser: each chunk's output timestamp, when the audio context will
//   play it to the speakers.
namespace MusicPlayer {

// Opens the sound device for `window` and creates the stream buffer. False
// when there is no usable device.
bool initSound(WindowHandle window);

// Opens `file` as the track, taking it over (null: no track), and seeks to
// `startSeconds` (clamped to the track) when that is more than 0. The clock
// then starts there. False when the file is null or not Ogg Vorbis.
bool openMusic(DataFile* file, float startSeconds);

// Starts the worker: it fills the buffer, starts playback and then refills
// every refill period; it serves every later pause, resume and seek too.
// Returns at once.
void startStreaming();

// Seconds into the track of the music heard: the start position (or the last
// seek's) until the device reports its first sound heard, then moving on with
// what is heard, less the calibration. Never goes back, except after a seek
// and, when looping, at the end of the track (back to 0); holds while paused.
float currentTime();

// The track's length in seconds; 0 when no track is open or it is unknown.
float trackLength();

// Moves playback to `seconds` into the track (clamped to it): the playback
// so far is dropped, the decoder goes there and the device starts afresh, so
// the clock reads exactly `seconds` until the new sound is heard and then
// follows it. While paused, only the position moves. False when no track is
// open, or the device could not be opened again (the clock then holds).
bool seek(float seconds);

// Pausing closes the device, so the sound stops at once, and holds the clock
// at what was heard; resuming starts the music again from exactly there.
void setPaused(bool paused);
bool paused();

// When on, the end of the track is followed without a gap by its start, and
// the clock goes round with it.
void setLooping(bool on);

// The listener's own correction for a latency that no device reports
// (wireless headphones, some displays' sound): sound that reaches the ears
// `lateBy` later than the device says (earlier when negative) holds the
// clock back by as much. Set before playback starts.
void setCalibration(std::chrono::milliseconds lateBy);

// Stops the worker (waiting until it has noticed, without joining it: it runs
// detached), releases the sound device and closes the track. Safe in
// every state and more than once.
void stop();

// Decodes PCM into [destination, destination + length) and returns the bytes
// written. A range of 4096 bytes or less is left alone; otherwise decoding
// stops once 4096 bytes or fewer remain, except that once the track has ended
// (or none is open) the rest of the range is filled with silence.
int decodeInto(std::uint8_t* destination, int length);

// How long the worker sleeps between refills: 100 ms in the demo. Tests
// shorten it; takes effect at the next sleep.
void setRefillPeriod(std::chrono::milliseconds period);

} // namespace MusicPlayer
