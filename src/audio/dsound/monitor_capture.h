#pragma once

#include "audio/dsound/com_library.h"

#include <cstdint>
#include <vector>

struct IAudioClient;
struct IAudioCaptureClient;

// One packet of what the output played, as its monitor recorded it.
struct MonitorPacket {
  std::vector<std::int16_t> stereo; // interleaved frames in the music's format
  std::uint32_t frames = 0;
  std::int64_t firstFrame = 0; // frames recorded before it
  std::int64_t stamp = 0;      // when it was handed over, 100 ns units of the performance counter
  bool gap = false;            // the recording lost sound before it
};

// Records what the default output plays, in the music's format, through the
// audio layer's capture endpoint for the sound server's monitor of that
// output (PulseAudio's and PipeWire's monitor of a sink), chosen by what Wine's
// audio layer says of its endpoints (monitor_choice.h). Nothing else is
// recorded: when that endpoint cannot be told for sure, open() fails.
class MonitorCapture {
public:
  MonitorCapture() = default;
  ~MonitorCapture() { close(); }
  MonitorCapture(const MonitorCapture&) = delete;
  MonitorCapture& operator=(const MonitorCapture&) = delete;

  // Opens and starts the recording, on the thread that then reads it; when
  // that fails, `failure` says why.
  bool open(const char*& failure);
  // The next packet recorded; false when none is waiting.
  bool next(MonitorPacket& packet);
  void close();

private:
  ComLibrary com;
  IAudioClient* client = nullptr;
  IAudioCaptureClient* capture = nullptr;
};
