// SoundBuffer on DirectSound, loaded at run time from "dsound.dll": a primary
// buffer that sets the output format and one looping secondary buffer. What
// is heard is the play cursor less the output latency: the audio layer's
// figure under Wine, replaced by the listener's measurement once it has one
// (listener.cpp); nothing on Windows itself, where the play cursor is what
// the device plays.
#include "audio/dsound/audio_client_probe.h"
#include "audio/dsound/device_state.h"
#include "audio/dsound/music_format.h"

#include <mmsystem.h>

namespace {

using DirectSoundCreateFunction = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);
using Clock = HeardReport::Clock;

// The device moves its cursor at least every mixing period (10 ms under
// Wine): past two of them without a step it has stalled, and the sound is
// taken to stand where the cursor does.
constexpr std::int64_t kStepReachFrames = 2 * kSampleRate / 100;

LockedRegions regionsOf(void* first, DWORD firstBytes, void* second, DWORD secondBytes) {
  LockedRegions regions;
  regions.first = static_cast<std::uint8_t*>(first);
  regions.firstBytes = firstBytes;
  regions.second = static_cast<std::uint8_t*>(second);
  regions.secondBytes = second ? secondBytes : 0;
  return regions;
}

bool runsUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The audio layer's own account of the default output, in 100 ns units: the
// buffer of a shared client, which Wine's mixer keeps filled ahead of what it
// reports as played, plus the stream latency of the sound server behind it.
// Wine gives the same figures for the life of a stream (its defaults), so
// they are read once.
std::int64_t reportedOutputLatency() {
  AudioClientProbe probe;
  return probe.open() ? probe.reportedLatency() : 0;
}

// The cursor now stands at `offset` by the owner's doing, not by playing:
// what it has passed counts from there, afresh when `fromZero`.
void placeCursor(SoundBuffer::State& state, std::uint32_t offset, bool fromZero) {
  const std::lock_guard guard(state.cursorLock);
  state.cursorAt = offset;
  if (fromZero)
    state.travelled = 0;
  state.stepSeen = Clock::now();
}

} // namespace

// Counts what the cursor has passed between readings: the player, the
// listener and the clock read it far more often than once a second, and a
// cursor that the owner moves is placed anew (placeCursor).
bool readPlayCursor(SoundBuffer::State& state, std::uint32_t& cursor) {
  const std::lock_guard guard(state.cursorLock);
  DWORD play = 0;
  if (state.streamBuffer->GetCurrentPosition(&play, nullptr) != DS_OK || play >= kSoundBufferBytes)
    return false;
  if (play != state.cursorAt) {
    state.travelled += bytesAheadInBuffer(state.cursorAt, play);
    state.cursorAt = play;
    state.stepSeen = Clock::now();
  }
  cursor = play;
  return true;
}

SoundBuffer::SoundBuffer() = default;

SoundBuffer::~SoundBuffer() {
  release();
}

bool SoundBuffer::create(WindowHandle window) {
  release();
  state = std::make_unique<State>();
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
  const bool underWine = runsUnderWine();
  if (underWine) {
    // 100 ns units to whole frames.
    const auto frames = reportedOutputLatency() * kSampleRate / 10'000'000;
    state->outputLatency = static_cast<std::uint32_t>(frames) * kBytesPerFrame;
  }
  startTrace(*state, underWine);
  if (underWine)
    startListening(*state);
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
  const std::uint64_t writtenBefore = noteLock(*state, offset);
  if (state->log.isOpen()) {
    traceCursors(*state, "refill");
    state->log.line("lock at %lu bytes %lu written %llu", static_cast<unsigned long>(offset),
                    static_cast<unsigned long>(bytes),
                    static_cast<unsigned long long>(writtenBefore));
  }
  if (state->streamBuffer->Lock(offset, bytes, &first, &firstBytes, &second, &secondBytes, 0) !=
      DS_OK) {
    state->log.line("lock failed");
    return false;
  }
  regions = regionsOf(first, firstBytes, second, secondBytes);
  return true;
}

// A buffer lost before the first fill (another program took the device) is
// restored here and locked once more, so the player's first fill only has to
// try again next period when even that fails.
bool SoundBuffer::lockEntireBuffer(LockedRegions& regions) {
  if (!state || !state->streamBuffer)
    return false;
  void* first = nullptr;
  void* second = nullptr;
  DWORD firstBytes = 0;
  DWORD secondBytes = 0;
  const auto lockWhole = [&] {
    return state->streamBuffer->Lock(0, kSoundBufferBytes, &first, &firstBytes, &second,
                                     &secondBytes, DSBLOCK_ENTIREBUFFER);
  };
  HRESULT result = lockWhole();
  if (result == DSERR_BUFFERLOST && restore())
    result = lockWhole();
  if (result != DS_OK) {
    state->log.line("lock failed");
    return false;
  }
  noteWholeFill(*state);
  state->log.line("lock whole buffer");
  regions = regionsOf(first, firstBytes, second, secondBytes);
  return true;
}

void SoundBuffer::unlock(const LockedRegions& regions) {
  if (!state || !state->streamBuffer)
    return;
  noteUnlock(*state, regions);
  state->streamBuffer->Unlock(regions.first, regions.firstBytes, regions.second,
                              regions.secondBytes);
}

void SoundBuffer::setPlayPosition(std::uint32_t offset) {
  if (state && state->streamBuffer) {
    state->streamBuffer->SetCurrentPosition(offset);
    placeCursor(*state, offset, true);
    state->log.line("position %lu", static_cast<unsigned long>(offset));
  }
}

void SoundBuffer::playLooping() {
  if (state && state->streamBuffer) {
    state->streamBuffer->Play(0, 0, DSBPLAY_LOOPING);
    if (state->log.isOpen()) {
      if (state->playStarted == 0)
        state->playStarted = PlaybackLog::now();
      traceCursors(*state, "play");
    }
  }
}

bool SoundBuffer::playCursor(std::uint32_t& cursor) {
  return state && state->streamBuffer && readPlayCursor(*state, cursor);
}

// A restored buffer plays on from where the device puts its cursor; the
// count goes on from there.
bool SoundBuffer::restore() {
  if (!state || !state->streamBuffer)
    return false;
  state->log.line("restore");
  const bool restored = state->streamBuffer->Restore() == DS_OK;
  DWORD play = 0;
  if (state->streamBuffer->GetCurrentPosition(&play, nullptr) == DS_OK && play < kSoundBufferBytes)
    placeCursor(*state, play, false);
  return restored;
}

// What the cursor has passed, less the output latency, heard when the cursor
// last stepped.
bool SoundBuffer::heard(HeardReport& report) {
  std::uint32_t cursor = 0;
  if (!state || !state->streamBuffer || !readPlayCursor(*state, cursor))
    return false;
  const std::lock_guard guard(state->cursorLock);
  report.frame = static_cast<std::int64_t>(state->travelled / kBytesPerFrame) -
                 state->outputLatency / kBytesPerFrame;
  report.at = state->stepSeen;
  report.reachFrames = kStepReachFrames;
  return true;
}

// The buffers go before the object that made them, and the library last of
// all; the trace's sampler and the listener, which read the buffers, before
// them.
void SoundBuffer::release() {
  if (!state)
    return;
  stopListening(*state);
  stopTrace(*state);
  releaseInterface(state->primaryBuffer);
  releaseInterface(state->streamBuffer);
  releaseInterface(state->directSound);
  if (state->library)
    FreeLibrary(state->library);
  state.reset();
}
