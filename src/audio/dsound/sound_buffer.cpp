// SoundBuffer on DirectSound, loaded at run time from "dsound.dll": a primary
// buffer that sets the output format and one looping secondary buffer.
#include "audio/sound_buffer.h"

#include "audio/dsound/audio_client_probe.h"
#include "audio/dsound/monitor_capture.h"
#include "audio/dsound/music_format.h"
#include "audio/dsound/playback_log.h"
#include "audio/heard_latency.h"
#include "audio/stepped_cursor.h"

#include <windows.h>

#include <dsound.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

using DirectSoundCreateFunction = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);

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

} // namespace

struct SoundBuffer::State {
  std::atomic<std::uint32_t> outputLatency{0};
  HMODULE library = nullptr;
  IDirectSound* directSound = nullptr;
  IDirectSoundBuffer* primaryBuffer = nullptr;
  IDirectSoundBuffer* streamBuffer = nullptr;

  // The play cursor as every reader (clock, refills, listener) sees it: the
  // device's, moving between its steps.
  std::mutex cursorLock;
  SteppedCursor cursor;

  // The diagnostic log (VIRIZ_AUDIO_LOG) and the thread that samples the
  // cursors and the audio layer for it; the bytes written, for the log and
  // the listener.
  PlaybackLog log;
  WrittenCount written{kSoundBufferBytes};
  std::thread sampler;
  std::atomic<bool> stopSampling{false};
  std::atomic<std::int64_t> playStarted{0};

  // Under Wine, what is heard is measured by listening (runListener). The
  // listener needs the music in the order written and where the writing
  // stopped, to tell which written frame the cursor plays. How much of a
  // locked range the owner filled shows only when the next lock begins where
  // the writing stopped (`written`), so each unlocked range waits in
  // `unlockedMusic` until then. `writing` guards these and `written`.
  std::unique_ptr<HeardLatency> heard;
  std::mutex writing;
  std::vector<std::int16_t> unlockedMusic;
  std::uint32_t writeEnd = 0;
  std::thread listener;
  std::atomic<bool> stopListening{false};
};

namespace {

// Seconds after the start of playback during which the sampler logs every
// couple of milliseconds; after that every refill period's tenth.
constexpr double kCloseSamplingSeconds = 6.0;

void logCursors(SoundBuffer::State& state, const char* event) {
  DWORD play = 0;
  DWORD write = 0;
  DWORD primaryPlay = 0;
  DWORD primaryWrite = 0;
  const HRESULT streamResult = state.streamBuffer->GetCurrentPosition(&play, &write);
  const HRESULT primaryResult =
      state.primaryBuffer->GetCurrentPosition(&primaryPlay, &primaryWrite);
  state.log.line("%s play %lu write %lu primary %lu %lu result %lx %lx", event,
                 static_cast<unsigned long>(play), static_cast<unsigned long>(write),
                 static_cast<unsigned long>(primaryPlay), static_cast<unsigned long>(primaryWrite),
                 static_cast<unsigned long>(streamResult),
                 static_cast<unsigned long>(primaryResult));
}

// What the audio layer says through a client of our own on the same
// endpoint: its clock's position (and the counter time it belongs to), the
// frames it holds, its stream latency; `written` is what the probe has fed it.
void logAudioClient(PlaybackLog& log, AudioClientProbe& probe) {
  const AudioClientSample sample = probe.sample();
  if (!sample.valid) {
    log.line("client unreadable");
    return;
  }
  log.line("client position %llu frequency %llu at %.6f padding %u written %llu latency %lld",
           static_cast<unsigned long long>(sample.position),
           static_cast<unsigned long long>(sample.frequency), log.seconds(sample.positionQpc),
           sample.paddingFrames, static_cast<unsigned long long>(sample.framesWritten),
           static_cast<long long>(sample.streamLatency));
}

// The sampler: the stream and primary buffers' cursors and, unless
// VIRIZ_AUDIO_LOG_CLIENT=0, the audio layer through a probe client that plays
// silence (it is one more stream on the sound server).
void runSampler(SoundBuffer::State* state) {
  AudioClientProbe probe;
  const char* clientSetting = std::getenv("VIRIZ_AUDIO_LOG_CLIENT");
  bool probing = !(clientSetting && clientSetting[0] == '0');
  if (probing) {
    probing = probe.open() && probe.start();
    const AudioClientSample sample = probe.sample();
    state->log.line("client %s buffer %u frames at %u Hz latency %lld",
                    probing ? "started" : "unavailable", sample.bufferFrames, sample.sampleRate,
                    static_cast<long long>(sample.streamLatency));
  }
  while (!state->stopSampling) {
    const std::int64_t started = state->playStarted;
    const bool close =
        started == 0 || state->log.seconds(PlaybackLog::now() - started) < kCloseSamplingSeconds;
    logCursors(*state, "tick");
    if (probing) {
      probe.feed();
      logAudioClient(state->log, probe);
    }
    Sleep(close ? 2 : 10);
  }
}

// Opens the log named by VIRIZ_AUDIO_LOG, if any, and starts its sampler.
void startLog(SoundBuffer::State* state, bool underWine) {
  const char* path = std::getenv("VIRIZ_AUDIO_LOG");
  if (!path || !*path || !state->log.open(path))
    return;
  DSBCAPS caps{};
  caps.dwSize = sizeof(caps);
  state->primaryBuffer->GetCaps(&caps);
  state->log.line("created wine %d latency %u primary %lu bytes", underWine ? 1 : 0,
                  state->outputLatency.load(), static_cast<unsigned long>(caps.dwBufferBytes));
  try {
    state->sampler = std::thread(runSampler, state);
  } catch (const std::system_error&) {
    state->log.line("no sampler");
  }
}

// The play cursor, moving between the device's steps; false when the device
// gives none.
bool readPlayCursor(SoundBuffer::State& state, std::uint32_t& cursor) {
  const std::lock_guard guard(state.cursorLock);
  DWORD play = 0;
  if (state.streamBuffer->GetCurrentPosition(&play, nullptr) != DS_OK || play >= kSoundBufferBytes)
    return false;
  cursor = state.cursor.read(play, SteppedCursor::Clock::now());
  return true;
}

void resetPlayCursor(SoundBuffer::State& state) {
  const std::lock_guard guard(state.cursorLock);
  state.cursor.reset();
}

// How often the listener reads the cursor and the recording, and how often it
// matches what it recorded.
constexpr DWORD kListenPeriodMs = 5;
constexpr double kMeasurePeriodSeconds = 0.25;

double counterSeconds() {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The written frame the play cursor plays: the data under the cursor was
// written in the buffer's last round before where the writing stopped (a
// refill stops exactly at the cursor: then a whole round is ahead).
bool cursorWrittenFrame(SoundBuffer::State& state, std::int64_t& frame) {
  std::uint32_t play = 0;
  if (!readPlayCursor(state, play))
    return false;
  const std::lock_guard guard(state.writing);
  if (state.written.awaitingRefill())
    return false;
  const std::int64_t written = state.heard->written().totalFrames();
  std::uint32_t ahead = bytesAheadInBuffer(play, state.writeEnd);
  if (ahead == 0)
    ahead = kSoundBufferBytes;
  if (written * kBytesPerFrame < ahead)
    return false;
  frame = written - ahead / kBytesPerFrame;
  return true;
}

// A refill's lock at `offset`: the writing stopped there, which shows how
// much of the last unlocked range was written. Returns the bytes written
// before it.
std::uint64_t noteLock(SoundBuffer::State& state, std::uint32_t offset) {
  const std::lock_guard guard(state.writing);
  const std::uint64_t before = state.written.total();
  const std::uint64_t after = state.written.lockedAt(offset);
  if (state.heard) {
    const auto frames = static_cast<std::size_t>((after - before) / kBytesPerFrame);
    // A range filled less than the lock says (it never is) still counts as
    // written, as silence, so that the numbering keeps to the buffer's.
    state.unlockedMusic.resize(std::max(state.unlockedMusic.size(), 2 * frames));
    state.heard->written().append(state.unlockedMusic.data(), frames);
    state.unlockedMusic.clear();
    state.writeEnd = offset;
  }
  return after;
}

// The whole buffer was locked: the music starts afresh from its start, and
// what was unlocked before was never played.
void noteWholeFill(SoundBuffer::State& state) {
  const std::lock_guard guard(state.writing);
  state.written.filledWhole();
  state.unlockedMusic.clear();
  state.writeEnd = 0;
}

void noteUnlock(SoundBuffer::State& state, const LockedRegions& regions) {
  if (!state.heard)
    return;
  const std::lock_guard guard(state.writing);
  for (const auto& [data, bytes] : {std::pair{regions.first, regions.firstBytes},
                                    std::pair{regions.second, regions.secondBytes}}) {
    if (!data)
      continue;
    const auto* samples = reinterpret_cast<const std::int16_t*>(data);
    state.unlockedMusic.insert(state.unlockedMusic.end(), samples, samples + bytes / 2);
  }
}

// Listens to the output through its monitor and keeps the output latency at
// what is measured; without a monitor the reported figure stays.
void runListener(SoundBuffer::State* state) {
  MonitorCapture capture;
  const char* failure = "";
  if (!capture.open(failure)) {
    state->log.line("listening unavailable: %s", failure);
    return;
  }
  state->log.line("listening");
  MonitorPacket packet;
  double nextMeasurement = 0.0;
  while (!state->stopListening) {
    Sleep(kListenPeriodMs);
    const double now = counterSeconds();
    std::int64_t cursor = 0;
    if (cursorWrittenFrame(*state, cursor))
      state->heard->cursorAt(now, cursor);
    while (capture.next(packet))
      state->heard->captured(packet.stereo.data(), packet.frames, packet.firstFrame,
                             static_cast<double>(packet.stamp) / 10'000'000, packet.gap);
    if (now < nextMeasurement)
      continue;
    nextMeasurement = now + kMeasurePeriodSeconds;
    if (state->heard->measure()) {
      state->outputLatency =
          static_cast<std::uint32_t>(state->heard->latencyFrames()) * kBytesPerFrame;
      state->log.line("heard latency %u", state->outputLatency.load());
    }
  }
}

// Under Wine, unless VIRIZ_AUDIO_LISTEN=0.
void startListening(SoundBuffer::State* state) {
  const char* setting = std::getenv("VIRIZ_AUDIO_LISTEN");
  if (setting && setting[0] == '0')
    return;
  state->heard = std::make_unique<HeardLatency>(state->outputLatency / kBytesPerFrame);
  try {
    state->listener = std::thread(runListener, state);
  } catch (const std::system_error&) {
    state->heard.reset();
  }
}

} // namespace

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
  startLog(state.get(), underWine);
  if (underWine)
    startListening(state.get());
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
    logCursors(*state, "refill");
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
    resetPlayCursor(*state);
    state->log.line("position %lu", static_cast<unsigned long>(offset));
  }
}

void SoundBuffer::playLooping() {
  if (state && state->streamBuffer) {
    state->streamBuffer->Play(0, 0, DSBPLAY_LOOPING);
    if (state->log.isOpen()) {
      if (state->playStarted == 0)
        state->playStarted = PlaybackLog::now();
      logCursors(*state, "play");
    }
  }
}

bool SoundBuffer::playCursor(std::uint32_t& cursor) {
  return state && state->streamBuffer && readPlayCursor(*state, cursor);
}

bool SoundBuffer::restore() {
  if (!state || !state->streamBuffer)
    return false;
  state->log.line("restore");
  resetPlayCursor(*state);
  return state->streamBuffer->Restore() == DS_OK;
}

// The buffers go before the object that made them, and the library last of
// all; the log's sampler, which reads the buffers, before them.
void SoundBuffer::release() {
  if (!state)
    return;
  state->stopSampling = true;
  if (state->sampler.joinable())
    state->sampler.join();
  state->stopListening = true;
  if (state->listener.joinable())
    state->listener.join();
  state->log.line("released");
  state->log.close();
  releaseInterface(state->primaryBuffer);
  releaseInterface(state->streamBuffer);
  releaseInterface(state->directSound);
  if (state->library)
    FreeLibrary(state->library);
  state.reset();
}

// On Windows the play cursor is what the device plays. Under Wine it is
// where Wine's mixer has got to in its audio client, and what is heard
// trails it by that client's buffering, which Wine's audio layer reports,
// and by what its sound-server driver still holds, which it does not: after
// the sound server ran dry of its stream, that driver adds silence that no
// figure a program can read counts. So under Wine the listener measures the
// distance from what the sound server's monitor recorded, and the reported
// figure stands only until the first measurement (or where there is no
// monitor to listen to).
std::uint32_t SoundBuffer::outputLatencyBytes() {
  return state ? state->outputLatency.load() : 0;
}
