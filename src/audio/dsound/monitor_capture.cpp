#include "audio/dsound/monitor_capture.h"

#include "audio/dsound/music_format.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// The endpoint's name as users see it (the system's PKEY_Device_FriendlyName,
// stated here so that no GUID library needs linking).
constexpr PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

// The recording's own buffer: long enough that a reader held up by a busy
// machine loses nothing.
constexpr REFERENCE_TIME kBufferDuration = 10'000'000; // 1 s in 100 ns units

std::wstring friendlyName(const ComLibrary& com, IMMDevice* device) {
  IPropertyStore* properties = nullptr;
  std::wstring name;
  if (FAILED(device->OpenPropertyStore(STGM_READ, &properties)))
    return name;
  PROPVARIANT value;
  PropVariantInit(&value);
  if (SUCCEEDED(properties->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR &&
      value.pwszVal)
    name = value.pwszVal;
  com.clearVariant(&value);
  properties->Release();
  return name;
}

// The monitor of the default output: the capture endpoint named "Monitor of "
// and the output's name, or, where the default output has a name of its own
// (Wine calls the sound server's default sink "PulseAudio"), the only
// monitor there is. With several and none named for the output, none: the
// wrong one would record something else.
IMMDevice* findMonitor(const ComLibrary& com, IMMDeviceEnumerator* devices) {
  IMMDevice* output = nullptr;
  if (FAILED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &output)))
    return nullptr;
  const std::wstring prefix = L"Monitor of ";
  const std::wstring named = prefix + friendlyName(com, output);
  output->Release();
  IMMDeviceCollection* inputs = nullptr;
  UINT count = 0;
  if (FAILED(devices->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, &inputs)))
    return nullptr;
  IMMDevice* namedMonitor = nullptr;
  IMMDevice* onlyMonitor = nullptr;
  int monitors = 0;
  if (SUCCEEDED(inputs->GetCount(&count))) {
    for (UINT i = 0; i < count; ++i) {
      IMMDevice* input = nullptr;
      if (FAILED(inputs->Item(i, &input)))
        continue;
      const std::wstring name = friendlyName(com, input);
      if (name.compare(0, prefix.size(), prefix) != 0) {
        input->Release();
        continue;
      }
      ++monitors;
      if (name == named && !namedMonitor) {
        namedMonitor = input;
        input->AddRef();
      }
      releaseInterface(onlyMonitor);
      onlyMonitor = input;
    }
  }
  inputs->Release();
  if (namedMonitor) {
    releaseInterface(onlyMonitor);
    return namedMonitor;
  }
  if (monitors != 1)
    releaseInterface(onlyMonitor);
  return onlyMonitor;
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
  IMMDevice* monitor = findMonitor(com, devices);
  devices->Release();
  failure = "no monitor of the output";
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
