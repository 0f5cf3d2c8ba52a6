// SoundBuffer on DirectSound, loaded at run time from "dsound.dll": a primary
// buffer that sets the output format and one looping secondary buffer.
#include "audio/sound_buffer.h"

#include <windows.h>

#include <audioclient.h>
#include <dsound.h>
#include <mmdeviceapi.h>
#include <mmsystem.h>

namespace {

using DirectSoundCreateFunction = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);

WAVEFORMATEX musicFormat() {
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

LockedRegions regionsOf(void* first, DWORD firstBytes, void* second, DWORD secondBytes) {
  LockedRegions regions;
  regions.first = static_cast<std::uint8_t*>(first);
  regions.firstBytes = firstBytes;
  regions.second = static_cast<std::uint8_t*>(second);
  regions.secondBytes = second ? secondBytes : 0;
  return regions;
}

template <typename Interface> void releaseInterface(Interface*& object) {
  if (object) {
    object->Release();
    object = nullptr;
  }
}

bool runsUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The audio layer's own account of the default output, in 100 ns units: the
// buffer of a shared client, which Wine's mixer keeps filled ahead of what it
// reports as played, plus the stream latency of the sound server behind it.
// ole32 is loaded here rather than linked, so that the program imports on
// Windows exactly what it did before.
REFERENCE_TIME reportedOutputLatency() {
  using CoInitializeExFunction = HRESULT(WINAPI*)(LPVOID, DWORD);
  using CoUninitializeFunction = void(WINAPI*)();
  using CoCreateInstanceFunction = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
  using CoTaskMemFreeFunction = void(WINAPI*)(LPVOID);
  HMODULE ole32 = LoadLibraryA("ole32.dll");
  if (!ole32)
    return 0;
  auto entry = [ole32](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(ole32, name));
  };
  auto coInitializeEx = reinterpret_cast<CoInitializeExFunction>(entry("CoInitializeEx"));
  auto coUninitialize = reinterpret_cast<CoUninitializeFunction>(entry("CoUninitialize"));
  auto coCreateInstance = reinterpret_cast<CoCreateInstanceFunction>(entry("CoCreateInstance"));
  auto coTaskMemFree = reinterpret_cast<CoTaskMemFreeFunction>(entry("CoTaskMemFree"));
  REFERENCE_TIME latency = 0;
  if (coInitializeEx && coUninitialize && coCreateInstance && coTaskMemFree) {
    const bool initialised = SUCCEEDED(coInitializeEx(nullptr, COINIT_MULTITHREADED));
    IMMDeviceEnumerator* devices = nullptr;
    IMMDevice* device = nullptr;
    IAudioClient* client = nullptr;
    WAVEFORMATEX* mixFormat = nullptr;
    REFERENCE_TIME streamLatency = 0;
    UINT32 bufferFrames = 0;
    if (SUCCEEDED(coCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                   __uuidof(IMMDeviceEnumerator),
                                   reinterpret_cast<void**>(&devices))) &&
        SUCCEEDED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device)) &&
        SUCCEEDED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                   reinterpret_cast<void**>(&client))) &&
        SUCCEEDED(client->GetMixFormat(&mixFormat)) &&
        SUCCEEDED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 0, 0, mixFormat, nullptr)) &&
        SUCCEEDED(client->GetBufferSize(&bufferFrames)) &&
        SUCCEEDED(client->GetStreamLatency(&streamLatency)) && mixFormat->nSamplesPerSec > 0)
      latency =
          streamLatency + REFERENCE_TIME{bufferFrames} * 10'000'000 / mixFormat->nSamplesPerSec;
    if (mixFormat)
      coTaskMemFree(mixFormat);
    releaseInterface(client);
    releaseInterface(device);
    releaseInterface(devices);
    if (initialised)
      coUninitialize();
  }
  FreeLibrary(ole32);
  return latency;
}

} // namespace

struct SoundBuffer::State {
  std::uint32_t outputLatency = 0;
  HMODULE library = nullptr;
  IDirectSound* directSound = nullptr;
  IDirectSoundBuffer* primaryBuffer = nullptr;
  IDirectSoundBuffer* streamBuffer = nullptr;
};

SoundBuffer::~SoundBuffer() {
  release();
}

bool SoundBuffer::create(WindowHandle window) {
  release();
  state = new State;
  state->library = LoadLibraryA("dsound.dll");
  if (!state->library)
    return false;
  FARPROC entry = GetProcAddress(state->library, "DirectSoundCreate");
  if (!entry)
    return false;
  auto directSoundCreate =
      reinterpret_cast<DirectSoundCreateFunction>(reinterpret_cast<void*>(entry));
  if (directSoundCreate(nullptr, &state->directSound, nullptr) != DS_OK)
    return false;
  if (state->directSound->SetCooperativeLevel(reinterpret_cast<HWND>(window), DSSCL_EXCLUSIVE) !=
      DS_OK)
    return false;

  // dwSize is the structure's own size: 36 bytes in a 32-bit build, 40 in a
  // 64-bit one; DirectSound rejects any other value.
  DSBUFFERDESC primaryDesc{};
  primaryDesc.dwSize = sizeof(DSBUFFERDESC);
  primaryDesc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_STICKYFOCUS;
  if (state->directSound->CreateSoundBuffer(&primaryDesc, &state->primaryBuffer, nullptr) != DS_OK)
    return false;
  WAVEFORMATEX format = musicFormat();
  if (state->primaryBuffer->SetFormat(&format) != DS_OK)
    return false;

  DSBUFFERDESC streamDesc{};
  streamDesc.dwSize = sizeof(DSBUFFERDESC);
  streamDesc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
  streamDesc.dwBufferBytes = kSoundBufferBytes;
  streamDesc.dwReserved = 0;
  streamDesc.lpwfxFormat = &format;
  streamDesc.guid3DAlgorithm = GUID{};
  if (state->directSound->CreateSoundBuffer(&streamDesc, &state->streamBuffer, nullptr) != DS_OK)
    return false;
  if (runsUnderWine()) {
    // 100 ns units to whole frames.
    const auto frames = reportedOutputLatency() * kSampleRate / 10'000'000;
    state->outputLatency = static_cast<std::uint32_t>(frames) * kBytesPerFrame;
  }
  return true;
}

bool SoundBuffer::lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
  if (!state || !state->streamBuffer || offset >= kSoundBufferBytes || bytes == 0 ||
      bytes > kSoundBufferBytes)
    return false;
  void* first = nullptr;
  void* second = nullptr;
  DWORD firstBytes = 0;
  DWORD secondBytes = 0;
  if (state->streamBuffer->Lock(offset, bytes, &first, &firstBytes, &second, &secondBytes, 0) !=
      DS_OK)
    return false;
  regions = regionsOf(first, firstBytes, second, secondBytes);
  return true;
}

bool SoundBuffer::lockEntireBuffer(LockedRegions& regions) {
  if (!state || !state->streamBuffer)
    return false;
  void* first = nullptr;
  void* second = nullptr;
  DWORD firstBytes = 0;
  DWORD secondBytes = 0;
  if (state->streamBuffer->Lock(0, kSoundBufferBytes, &first, &firstBytes, &second, &secondBytes,
                                DSBLOCK_ENTIREBUFFER) != DS_OK)
    return false;
  regions = regionsOf(first, firstBytes, second, secondBytes);
  return true;
}

void SoundBuffer::unlock(const LockedRegions& regions) {
  if (state && state->streamBuffer)
    state->streamBuffer->Unlock(regions.first, regions.firstBytes, regions.second,
                                regions.secondBytes);
}

void SoundBuffer::setPlayPosition(std::uint32_t offset) {
  if (state && state->streamBuffer)
    state->streamBuffer->SetCurrentPosition(offset);
}

void SoundBuffer::playLooping() {
  if (state && state->streamBuffer)
    state->streamBuffer->Play(0, 0, DSBPLAY_LOOPING);
}

bool SoundBuffer::playCursor(std::uint32_t& cursor) {
  if (!state || !state->streamBuffer)
    return false;
  DWORD play = 0;
  if (state->streamBuffer->GetCurrentPosition(&play, nullptr) != DS_OK || play >= kSoundBufferBytes)
    return false;
  cursor = play;
  return true;
}

bool SoundBuffer::restore() {
  return state && state->streamBuffer && state->streamBuffer->Restore() == DS_OK;
}

// The buffers go before the object that made them, and the library last of all.
void SoundBuffer::release() {
  if (!state)
    return;
  releaseInterface(state->primaryBuffer);
  releaseInterface(state->streamBuffer);
  releaseInterface(state->directSound);
  if (state->library)
    FreeLibrary(state->library);
  delete state;
  state = nullptr;
}

// On Windows the play cursor is what the device plays. Under Wine it is
// where Wine's mixer has got to in its audio client, and what is heard
// trails it by that client's buffering, which Wine's audio layer reports.
std::uint32_t SoundBuffer::outputLatencyBytes() {
  return state ? state->outputLatency : 0;
}
