#include "audio/player/music_player.h"

#include "archive/data_file.h"
#include "audio/player/data_file_callbacks.h"
#include "audio/player/heard_clock.h"
#include "audio/worker_priority.h"
#include "fixed_texts.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace MusicPlayer {
namespace {

// ov_read hands out at most about one packet of PCM per call, so a range is
// decoded only down to this many bytes; the next refill starts where this one
// stopped.
constexpr int kMinDecodeBytes = 4096;

// A refill that finds the buffer lost restores it and plays it again between
// lock attempts; after this many attempts it waits for the next period, so
// that a buffer which never comes back cannot hold up a stop.
constexpr int kLockAttempts = 5;
constexpr auto kLockRetryPause = std::chrono::milliseconds(10);

struct PlayerState {
  SoundBuffer streamBuffer;
  OggVorbis_File decoder{};
  bool musicOpen = false;
  WindowHandle window{};            // the device's window, for reopening it after a pause or seek
  std::int64_t startFrame = 0;      // track frame where this playback began; added to every reading
  std::int64_t trackFrames = 0;     // the track's length; 0 when unknown
  std::atomic<bool> looping{false}; // the decoder goes back to the start at the track's end
  bool paused = false;              // the device is closed and the clock holds

  // Where the next refill begins, and the bytes handed to the buffer since
  // playback began (silence too). Only the worker writes them, in its fills;
  // a new playback resets them with playbackLock held.
  std::uint64_t bytesWritten = 0;
  std::uint32_t writePos = 0; // bytesWritten % buffer size

  // The clock: the device's reports of what is heard, followed smoothly, less
  // the listener's own calibration (signed, in frames). Only the main thread
  // reads the clock, so these are its own.
  HeardClock heardClock;
  std::int64_t calibrationFrames = 0;
  // The last reading of this playback, in frames since the track's start,
  // counted on through loops. A seek sets it; a pause holds it.
  std::int64_t lastReadingFrames = 0;

  std::atomic<bool> stopRequested{false}; // set by stop(), polled by the worker
  std::atomic<bool> playing{false};       // set by the worker while looping playback runs
  std::atomic<std::int64_t> refillPeriodMs{100};
  // The worker runs detached and says when it has finished with the player,
  // so that a stop never joins a thread: the browser's main thread must not
  // block in a join, and a stop only has to wait for the worker to notice.
  std::atomic<bool> workerRunning{false};
  // Wakes the worker from its sleep when a stop is requested or a new
  // playback begins, so that neither waits for the rest of a refill period.
  std::mutex wakeLock;
  std::condition_variable wake;
  bool wakeRequested = false; // guarded by wakeLock

  // One worker serves the whole show. A pause, a resume or a seek is made by
  // the main thread with this held, which the worker holds for each fill and
  // refill: the decoder, the device and the byte counts change only between
  // them. A new playback is then counted here, and the worker fills it from
  // the start (unless paused).
  std::mutex playbackLock;
  std::uint64_t playbackGeneration = 0;
};

PlayerState player;

// How far the play cursor has moved since the last fill: the part of the
// buffer that has been heard and that the next fill may overwrite. A cursor
// on the write position has not moved since that fill (every fill writes up
// to the cursor), so equal positions count as no progress: a device that
// stalls for a refill period must not have a whole second of unheard music
// rewritten.
std::uint32_t playedSinceFill(std::uint32_t cursor, std::uint32_t writePos) {
  return bytesAheadInBuffer(writePos, cursor);
}

// One ov_read call: 16-bit signed little-endian samples. Returns the bytes
// decoded, 0 at the end of the track, or a negative vorbisfile error. When
// looping, the end of the track is followed at once by its start, so that
// the music goes round without a gap.
long readPcm(std::uint8_t* destination, int length) {
  int logicalStream = 0;
  const long produced = ov_read(&player.decoder, reinterpret_cast<char*>(destination), length, 0, 2,
                                1, &logicalStream);
  if (produced != 0 || !player.looping || ov_pcm_seek(&player.decoder, 0) != 0)
    return produced;
  return ov_read(&player.decoder, reinterpret_cast<char*>(destination), length, 0, 2, 1,
                 &logicalStream);
}

// A reading in track frames as seconds into the track: round and round it
// when looping.
float trackSeconds(std::int64_t frames) {
  if (player.looping && player.trackFrames > 0)
    frames %= player.trackFrames;
  return static_cast<float>(static_cast<double>(frames) / kSampleRate);
}

// A new count of bytes written, and where the next fill begins.
void recordFill(std::uint64_t bytesWritten) {
  player.bytesWritten = bytesWritten;
  player.writePos = static_cast<std::uint32_t>(bytesWritten % kSoundBufferBytes);
}

// Fills the whole buffer from the current position of the track and starts
// looping playback at byte 0. False, with nothing written or played, when the
// buffer cannot be locked (a backend that can lose its buffer has tried to
// restore it already).
bool fillAndPlay() {
  LockedRegions regions;
  if (!player.streamBuffer.lockEntireBuffer(regions))
    return false;
  std::uint64_t written = decodeInto(regions.first, static_cast<int>(regions.firstBytes));
  if (regions.second)
    written += decodeInto(regions.second, static_cast<int>(regions.secondBytes));
  recordFill(written);
  player.streamBuffer.unlock(regions);
  player.streamBuffer.setPlayPosition(0);
  player.streamBuffer.playLooping();
  player.playing = true;
  return true;
}

// Locks a refill range. A lost buffer is restored and played again before each
// new attempt; gives up after kLockAttempts or as soon as a stop is requested.
// Lock, restore, play and lock again are the player's own refill steps, fixed
// for every device, so they stay here rather than in the DirectSound backend.
bool lockForRefill(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
  for (int attempt = 1;; ++attempt) {
    if (player.streamBuffer.lock(offset, bytes, regions))
      return true;
    if (attempt == kLockAttempts || player.stopRequested)
      return false;
    player.streamBuffer.restore();
    player.streamBuffer.playLooping();
    std::this_thread::sleep_for(kLockRetryPause);
  }
}

// Copies `bytes` decoded bytes into the locked regions, first then second;
// what the regions hold beyond them lies at and after the next writePos.
void copyIntoRegions(const std::uint8_t* pcm, std::uint32_t bytes, const LockedRegions& regions) {
  const std::uint32_t intoFirst = std::min(bytes, regions.firstBytes);
  std::memcpy(regions.first, pcm, intoFirst);
  if (regions.second)
    std::memcpy(regions.second, pcm + intoFirst, std::min(bytes - intoFirst, regions.secondBytes));
}

// Refills what the play cursor has freed since the last fill. The track is
// decoded in one piece into `scratch`, even when the range wraps round the end
// of the buffer into two regions.
void refill(std::vector<std::uint8_t>& scratch) {
  std::uint32_t cursor = 0;
  if (!player.streamBuffer.playCursor(cursor))
    return;
  const std::uint32_t writePos = player.writePos;
  const std::uint32_t freed = playedSinceFill(cursor, writePos);
  LockedRegions regions;
  if (freed == 0 || !lockForRefill(writePos, freed, regions))
    return;
  const std::uint32_t locked =
      std::min<std::uint32_t>(regions.firstBytes + regions.secondBytes, scratch.size());
  const auto decoded =
      static_cast<std::uint32_t>(decodeInto(scratch.data(), static_cast<int>(locked)));
  copyIntoRegions(scratch.data(), decoded, regions);
  player.streamBuffer.unlock(regions);
  recordFill(player.bytesWritten + decoded);
}

// Sleeps one refill period, or less when a stop is requested meanwhile; true
// when a stop has been requested.
bool sleepUntilStopRequested() {
  std::unique_lock lock(player.wakeLock);
  player.wake.wait_for(lock, std::chrono::milliseconds(player.refillPeriodMs.load()),
                       [] { return player.stopRequested || player.wakeRequested; });
  player.wakeRequested = false;
  return player.stopRequested;
}

void wakeWorker() {
  {
    const std::lock_guard lock(player.wakeLock);
    player.wakeRequested = true;
  }
  player.wake.notify_all();
}

void streamingThread() {
  if (player.stopRequested)
    return;
  raiseWorkerPriority();
  std::vector<std::uint8_t> scratch(kSoundBufferBytes);
  std::uint64_t filled = ~std::uint64_t{0}; // the playback this worker has filled
  do {
    const std::lock_guard lock(player.playbackLock);
    if (player.paused)
      continue;
    if (filled != player.playbackGeneration || !player.playing) {
      if (fillAndPlay())
        filled = player.playbackGeneration;
    } else {
      refill(scratch);
    }
  } while (!sleepUntilStopRequested());
  player.playing = false;
}

// Ends the worker and releases the sound device.
void stopStreaming() {
  {
    const std::lock_guard lock(player.wakeLock);
    player.stopRequested = true;
  }
  player.wake.notify_all();
  // The worker is woken from its sleep and ends within one refill at most.
  while (player.workerRunning.load(std::memory_order_acquire))
    std::this_thread::yield();
  player.streamBuffer.release();
  player.playing = false;
}

// A new playback from track frame `frame`: the byte counts and the clock
// start again, and the clock reads exactly `frame` until the device reports
// its first sound heard.
void resetClock(std::int64_t frame) {
  player.bytesWritten = 0;
  player.writePos = 0;
  player.startFrame = frame;
  player.lastReadingFrames = frame;
  player.heardClock.reset();
}

// Drops the playback and begins a new one at track frame `frame`, paused or
// not: the device is closed (the sound stops at once), the decoder goes there
// and the clock reads exactly `frame`; unless paused, a new device is opened
// and the worker woken to fill it. False when that device cannot be opened
// (the clock then holds until a later pause or seek).
bool beginPlayback(std::int64_t frame, bool paused) {
  bool opened = true;
  {
    const std::lock_guard lock(player.playbackLock);
    player.paused = paused;
    player.streamBuffer.release();
    player.playing = false;
    ov_pcm_seek(&player.decoder, frame);
    resetClock(frame);
    if (!player.paused)
      opened = player.streamBuffer.create(player.window);
    ++player.playbackGeneration;
  }
  wakeWorker();
  return opened;
}

void closeTrack() {
  if (!player.musicOpen)
    return;
  ov_clear(&player.decoder);
  player.musicOpen = false;
}

} // namespace

bool initSound(WindowHandle window) {
  if (player.workerRunning)
    stopStreaming();
  player.stopRequested = false;
  player.paused = false;
  player.window = window;
  resetClock(0);
  return player.streamBuffer.create(window);
}

bool openMusic(DataFile* file, float startSeconds) {
  closeTrack();
  if (!file)
    return false;
  const ov_callbacks callbacks{dataFileRead, dataFileSeek, dataFileClose, dataFileTell};
  if (ov_open_callbacks(file, &player.decoder, nullptr, 0, callbacks) < 0) {
    // On failure vorbisfile leaves the source to its owner.
    dataFileClose(file);
    return false;
  }
  player.musicOpen = true;
  const ogg_int64_t total = ov_pcm_total(&player.decoder, -1);
  player.trackFrames = total > 0 ? total : 0;
  resetClock(0);
  if (startSeconds > 0.0f) {
    // Past the end: at the end, where only silence follows.
    const std::int64_t frame =
        std::min<std::int64_t>(std::llround(static_cast<double>(startSeconds) * kSampleRate),
                               player.trackFrames > 0 ? player.trackFrames : INT64_MAX);
    ov_pcm_seek(&player.decoder, frame);
    resetClock(frame);
  }
  return true;
}

void startStreaming() {
  if (player.workerRunning)
    return;
  player.workerRunning.store(true, std::memory_order_release);
  try {
    std::thread([] {
      streamingThread();
      player.workerRunning.store(false, std::memory_order_release);
    }).detach();
  } catch (const std::system_error&) {
    // No worker: nothing plays and the clock holds.
    player.workerRunning = false;
  }
}

float currentTime() {
  if (!player.playing || player.paused)
    return trackSeconds(player.lastReadingFrames);
  HeardReport report;
  const bool reported = player.streamBuffer.heard(report);
  // Read after the report, so that a report of now is not taken for one
  // still to come.
  const auto now = HeardClock::Clock::now();
  if (reported)
    player.heardClock.take(report, now);
  const std::int64_t framesHeard =
      std::max<std::int64_t>(0, player.heardClock.framesAt(now) - player.calibrationFrames);
  player.lastReadingFrames = std::max(player.lastReadingFrames, player.startFrame + framesHeard);
  return trackSeconds(player.lastReadingFrames);
}

float trackLength() {
  return static_cast<float>(static_cast<double>(player.trackFrames) / kSampleRate);
}

void setLooping(bool on) {
  player.looping = on;
}

bool seek(float seconds) {
  if (!player.musicOpen)
    return false;
  return beginPlayback(
      std::clamp<std::int64_t>(std::llround(static_cast<double>(seconds) * kSampleRate), 0,
                               player.trackFrames > 0 ? player.trackFrames : INT64_MAX),
      player.paused);
}

void setPaused(bool paused) {
  if (paused == player.paused || !player.musicOpen)
    return;
  // The music stops where it has been heard and resumes from there: the
  // decoder, which runs a buffer ahead, goes back to that frame.
  currentTime();
  std::int64_t held = player.lastReadingFrames;
  if (player.looping && player.trackFrames > 0)
    held %= player.trackFrames;
  beginPlayback(held, paused);
}

bool paused() {
  return player.paused;
}

void stop() {
  stopStreaming();
  closeTrack();
  player.paused = false;
  player.trackFrames = 0;
  resetClock(0);
}

int decodeInto(std::uint8_t* destination, int length) {
  int total = 0;
  while (length > kMinDecodeBytes) {
    long produced = player.musicOpen ? readPcm(destination, length) : 0;
    if (produced == 0) {
      // The track has ended (or none is open): silence from here on.
      std::memset(destination, 0, static_cast<std::size_t>(length));
      produced = length;
    } else if (produced < 0) {
      // A hole or a damaged packet: report it and decode on from the next data.
      std::fputs(kBitstreamErrorText, stdout);
      produced = 0;
    }
    total += static_cast<int>(produced);
    destination += produced;
    length -= static_cast<int>(produced);
  }
  return total;
}

void setCalibration(std::chrono::milliseconds lateBy) {
  player.calibrationFrames = lateBy.count() * static_cast<std::int64_t>(kSampleRate) / 1000;
}

void setRefillPeriod(std::chrono::milliseconds period) {
  player.refillPeriodMs = period.count();
}

} // namespace MusicPlayer
