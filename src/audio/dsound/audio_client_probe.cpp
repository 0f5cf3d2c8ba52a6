#include "audio/dsound/audio_client_probe.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

namespace {

using CoInitializeExFunction = HRESULT(WINAPI*)(LPVOID, DWORD);
using CoUninitializeFunction = void(WINAPI*)();
using CoCreateInstanceFunction = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
using CoTaskMemFreeFunction = void(WINAPI*)(LPVOID);

template <typename Interface> void releaseInterface(Interface*& object) {
  if (object) {
    object->Release();
    object = nullptr;
  }
}

std::int64_t qpcNow() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

} // namespace

AudioClientProbe::~AudioClientProbe() {
  close();
}

bool AudioClientProbe::open() {
  close();
  ole32 = LoadLibraryA("ole32.dll");
  if (!ole32)
    return false;
  auto entry = [this](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(ole32, name));
  };
  auto coInitializeEx = reinterpret_cast<CoInitializeExFunction>(entry("CoInitializeEx"));
  auto coCreateInstance = reinterpret_cast<CoCreateInstanceFunction>(entry("CoCreateInstance"));
  uninitialise = entry("CoUninitialize");
  taskMemFree = entry("CoTaskMemFree");
  if (!coInitializeEx || !coCreateInstance || !uninitialise || !taskMemFree)
    return false;
  comInitialised = SUCCEEDED(coInitializeEx(nullptr, COINIT_MULTITHREADED));
  IMMDeviceEnumerator* devices = nullptr;
  IMMDevice* device = nullptr;
  WAVEFORMATEX* mixFormat = nullptr;
  bool opened =
      SUCCEEDED(coCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                 __uuidof(IMMDeviceEnumerator),
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
  if (mixFormat)
    reinterpret_cast<CoTaskMemFreeFunction>(taskMemFree)(mixFormat);
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
  result.qpc = qpcNow();
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
  if (comInitialised)
    reinterpret_cast<CoUninitializeFunction>(uninitialise)();
  comInitialised = false;
  if (ole32)
    FreeLibrary(ole32);
  ole32 = nullptr;
  bufferFrames = 0;
  sampleRate = 0;
  streamLatency = 0;
  framesWritten = 0;
}
