#pragma once

#include "audio/dsound/com_library.h"

#include <windows.h>

#include <cstdint>

struct IAudioClient;
struct IAudioClock;
struct IAudioRenderClient;

// What the audio layer (the shared-mode audio client that DirectSound mixes
// into) says about the default output at one moment.
struct AudioClientSample {
  bool valid = false;
  std::uint64_t position = 0;      // IAudioClock position, in units of `frequency`
  std::int64_t positionQpc = 0;    // the moment that position refers to, in QPC units
  std::uint64_t frequency = 0;     // IAudioClock units per second
  std::uint32_t paddingFrames = 0; // frames written but not yet played
  std::uint64_t framesWritten = 0; // frames this client has handed over since it started
  std::int64_t streamLatency = 0;  // 100 ns units
  std::uint32_t bufferFrames = 0;
  std::uint32_t sampleRate = 0;
};

// A shared-mode audio client of our own on the default render endpoint,
// playing silence, so that the audio layer's clock and position can be read:
// DirectSound's own client is not reachable from outside.
class AudioClientProbe {
public:
  AudioClientProbe() = default;
  ~AudioClientProbe();
  AudioClientProbe(const AudioClientProbe&) = delete;
  AudioClientProbe& operator=(const AudioClientProbe&) = delete;

  // Opens the client; false when there is no endpoint or no client. Must be
  // called on the thread that then uses the probe.
  bool open();
  // Starts playing silence.
  bool start();
  // Tops the client's buffer up with silence; call more often than the
  // client's buffer lasts.
  void feed();
  AudioClientSample sample();
  // Buffer plus stream latency as the audio layer reports them, 100 ns units.
  std::int64_t reportedLatency() const;
  void close();

private:
  ComLibrary com;
  IAudioClient* client = nullptr;
  IAudioClock* clock = nullptr;
  IAudioRenderClient* render = nullptr;
  std::uint32_t bufferFrames = 0;
  std::uint32_t sampleRate = 0;
  std::int64_t streamLatency = 0;
  std::uint64_t framesWritten = 0;
};
