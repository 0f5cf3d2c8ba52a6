#include "audio/dsound/monitor_capture.h"

#include "audio/dsound/audio_endpoints.h"
#include "audio/dsound/music_format.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <cstring>

namespace {

// The recording's own buffer: long enough that a reader held up by a busy
// machine loses nothing.
constexpr REFERENCE_TIME kBufferDuration = 10'000'000; // 1 s in 100 ns units

// The monitor of the default output, as chooseOutputMonitor tells it.
IMMDevice* findMonitor(const ComLibrary& com, IMMDeviceEnumerator* devices, const char*& doubt) {
  const AudioEndpoints endpoints = readAudioEndpoints(com, devices);
  const AudioEndpoint* chosen = chooseOutputMonitor(endpoints, doubt);
  IMMDevice* monitor = nullptr;
  if (!chosen)
    return nullptr;
  if (FAILED(devices->GetDevice(chosen->id.c_str(), &monitor))) {
    doubt = "the monitor went away";
    return nullptr;
  }
  return monitor;
}

} // namespace

bool MonitorCapture::open(const char*& failure) {
  close();
  failure = "no COM";
  if (!com.load())
    return false;
  IMMDeviceEnumerator* devices = nullptr;
  if (FAILED(com.createInstance(__uuidof(MMDeviceEnumerator), __uuidof(IMMDeviceEnumerator),
                                reinterpret_cast<void**>(&devices))))
    return false;
  IMMDevice* monitor = findMonitor(com, devices, failure);
  devices->Release();
  if (!monitor)
    return false;
  failure = "the monitor cannot record the music's format";
  // The music's own format: the sound server converts, if it must, so that
  // what is recorded compares sample for sample with what was written.
  WAVEFORMATEX format = musicFormat();
  const bool opened = SUCCEEDED(monitor->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                                  reinterpret_cast<void**>(&client))) &&
                      SUCCEEDED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kBufferDuration, 0,
                                                   &format, nullptr)) &&
                      SUCCEEDED(client->GetService(__uuidof(IAudioCaptureClient),
                                                   reinterpret_cast<void**>(&capture))) &&
                      SUCCEEDED(client->Start());
  monitor->Release();
  if (!opened)
    close();
  return opened;
}

bool MonitorCapture::next(MonitorPacket& packet) {
  UINT32 waiting = 0;
  if (!capture || FAILED(capture->GetNextPacketSize(&waiting)) || waiting == 0)
    return false;
  BYTE* data = nullptr;
  UINT32 frames = 0;
  DWORD flags = 0;
  UINT64 position = 0;
  UINT64 stamp = 0;
  if (capture->GetBuffer(&data, &frames, &flags, &position, &stamp) != S_OK)
    return false;
  packet.frames = frames;
  packet.firstFrame = static_cast<std::int64_t>(position);
  packet.stamp = static_cast<std::int64_t>(stamp);
  packet.gap = (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0;
  packet.stereo.resize(std::size_t{frames} * 2);
  if (flags & AUDCLNT_BUFFERFLAGS_SILENT)
    std::fill(packet.stereo.begin(), packet.stereo.end(), std::int16_t{0});
  else
    std::memcpy(packet.stereo.data(), data, std::size_t{frames} * kBytesPerFrame);
  capture->ReleaseBuffer(frames);
  return true;
}

void MonitorCapture::close() {
  if (client)
    client->Stop();
  releaseInterface(capture);
  releaseInterface(client);
  com.unload();
}
