#pragma once

#include "audio/ring/pcm_ring.h"

#include <cstdint>

// A playback stream on a server that speaks the PulseAudio protocol
// (PulseAudio itself, or PipeWire's pulse server), fed from a PcmRing.
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
  bool open(PcmRing& ring);
  // Hands the server its first data and uncorks the stream.
  void start();
  // Playback was positioned anew: what is heard counts from here.
  void positioned();
  // The server's newest timing report as what is heard since the last
  // positioning. False until the sink has played out the first of it.
  bool heard(HeardReport& report);
  void close();

  struct State;

private:
  State* state = nullptr;
};
