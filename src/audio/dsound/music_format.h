#pragma once

#include "audio/sound_buffer.h"

#include <windows.h>

#include <mmsystem.h>

// The music's format as DirectSound and the audio layer describe it.
inline WAVEFORMATEX musicFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = kSampleRate;
  format.nAvgBytesPerSec = kBytesPerSecond;
  format.nBlockAlign = kBytesPerFrame;
  format.wBitsPerSample = 16;
  format.cbSize = 0;
  return format;
}
