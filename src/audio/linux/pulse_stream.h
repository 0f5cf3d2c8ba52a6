#pragma once

#include "audio/ring_playback.h"

#include <cstdint>

// A playback stream on a server that speaks the PulseAudio protocol
// (PulseAudio itself, or PipeWire's pulse server), fed from a RingPlayback.
// Its position comes from the server's own timing: what the sink has played,
// less what it still holds before the sound leaves it. That position stands
// still while the stream underruns, so it is what is heard, stalls included.
class PulseStream {
public:
  PulseStream() = default;
  ~PulseStream();
  PulseStream(const PulseStream&) = delete;
  PulseStream& operator=(const PulseStream&) = delete;

  // Connects to the server (never starting one) and opens a stream, corked,
  // that reads `ring` once it plays. False when no server answers or the
  // stream cannot be made; close() then undoes what was made.
  bool open(RingPlayback& ring);
  // Hands the server its first data and uncorks the stream.
  void start();
  // Playback was positioned anew: what is heard counts from here.
  void positioned();
  // Bytes heard since the last positioning, smooth and never going back (0
  // until the server has reported the stream's timing). False when no
  // stream is open.
  bool heardBytes(std::uint64_t& bytes);
  void close();

  struct State;

private:
  State* state = nullptr;
};
