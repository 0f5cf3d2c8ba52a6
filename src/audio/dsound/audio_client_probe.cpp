#include "audio/dsound/audio_client_probe.h"

#include "audio/dsound/com_library.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

AudioClientProbe::~AudioClientProbe() {
  close();
}

bool AudioClientProbe::open() {
  close();
  if (!com.load())
    return false;
  IMMDeviceEnumerator* devices = nullptr;
  IMMDevice* device = nullptr;
  WAVEFORMATEX* mixFormat = nullptr;
  bool opened =
      SUCCEEDED(com.createInstance(__uuidof(MMDeviceEnumerator), __uuidof(IMMDeviceEnumerator),
                                   reinterpret_cast<void**>(&devices))) &&
      SUCCEEDED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device)) &&
      SUCCEEDED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                 reinterpret_cast<void**>(&client))) &&
      SUCCEEDED(client->GetMixFormat(&mixFormat)) &&
      SUCCEEDED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 0, 0, mixFormat, nullptr)) &&
      SUCCEEDED(client->GetBufferSize(&bufferFrames)) &&
      SUCCEEDED(client->GetStreamLatency(&streamLatency)) && mixFormat->nSamplesPerSec > 0;
  if (opened) {
    sampleRate = mixFormat->nSamplesPerSec;
    opened =
        SUCCEEDED(client->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&clock))) &&
        SUCCEEDED(
            client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&render)));
  }
  com.freeTaskMemory(mixFormat);
  releaseInterface(device);
  releaseInterface(devices);
  return opened;
}

bool AudioClientProbe::start() {
  if (!client)
    return false;
  feed();
  return SUCCEEDED(client->Start());
}

void AudioClientProbe::feed() {
  if (!client || !render)
    return;
  UINT32 padding = 0;
  if (FAILED(client->GetCurrentPadding(&padding)) || padding >= bufferFrames)
    return;
  const UINT32 frames = bufferFrames - padding;
  BYTE* data = nullptr;
  if (SUCCEEDED(render->GetBuffer(frames, &data)) &&
      SUCCEEDED(render->ReleaseBuffer(frames, AUDCLNT_BUFFERFLAGS_SILENT)))
    framesWritten += frames;
}

AudioClientSample AudioClientProbe::sample() {
  AudioClientSample result;
  if (!client || !clock)
    return result;
  UINT64 position = 0;
  UINT64 positionQpc = 0;
  UINT64 frequency = 0;
  UINT32 padding = 0;
  REFERENCE_TIME latency = 0;
  result.valid = SUCCEEDED(clock->GetPosition(&position, &positionQpc)) &&
                 SUCCEEDED(clock->GetFrequency(&frequency)) &&
                 SUCCEEDED(client->GetCurrentPadding(&padding)) &&
                 SUCCEEDED(client->GetStreamLatency(&latency));
  result.position = position;
  result.positionQpc = static_cast<std::int64_t>(positionQpc);
  result.frequency = frequency;
  result.paddingFrames = padding;
  result.framesWritten = framesWritten;
  result.streamLatency = latency;
  result.bufferFrames = bufferFrames;
  result.sampleRate = sampleRate;
  return result;
}

std::int64_t AudioClientProbe::reportedLatency() const {
  if (!client || sampleRate == 0)
    return 0;
  return streamLatency + std::int64_t{bufferFrames} * 10'000'000 / sampleRate;
}

void AudioClientProbe::close() {
  if (client)
    client->Stop();
  releaseInterface(render);
  releaseInterface(clock);
  releaseInterface(client);
  com.unload();
  bufferFrames = 0;
  sampleRate = 0;
  streamLatency = 0;
  framesWritten = 0;
}
