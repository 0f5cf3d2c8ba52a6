// SoundBuffer for tests: a software ring whose play cursor only moves when the
// test moves it (see ManualDevice).
#include "audio/sound_buffer.h"

#include "manual_device.h"

ManualDevice& manualDevice() {
  static ManualDevice device;
  return device;
}

void ManualDevice::reset() {
  {
    const std::lock_guard guard(mutex);
    deviceMissing = false;
    locksToFail = 0;
    restoreWorks = true;
    outputLatency = 0;
    stepping = false;
    refillsAllowed = 0;
    exists = false;
    playing = false;
    playCursor = 0;
    travelled = 0;
    counted = Counts{};
    ring = std::make_unique<PcmRing>();
  }
  changed.notify_all();
}

void ManualDevice::setDeviceMissing(bool missing) {
  const std::lock_guard guard(mutex);
  deviceMissing = missing;
}

void ManualDevice::failLocks(int count) {
  const std::lock_guard guard(mutex);
  locksToFail = count;
}

void ManualDevice::setRestoreWorks(bool works) {
  const std::lock_guard guard(mutex);
  restoreWorks = works;
}

void ManualDevice::setOutputLatency(std::uint32_t bytes) {
  const std::lock_guard guard(mutex);
  outputLatency = bytes;
}

void ManualDevice::setCursor(std::uint32_t cursor) {
  const std::lock_guard guard(mutex);
  travelled += bytesAheadInBuffer(playCursor, cursor % kSoundBufferBytes);
  playCursor = cursor % kSoundBufferBytes;
}

void ManualDevice::advanceCursor(std::uint32_t bytes) {
  const std::lock_guard guard(mutex);
  travelled += bytes;
  playCursor = (playCursor + bytes) % kSoundBufferBytes;
}

std::uint32_t ManualDevice::cursor() {
  const std::lock_guard guard(mutex);
  return playCursor;
}

bool ManualDevice::bufferExists() {
  const std::lock_guard guard(mutex);
  return exists;
}

bool ManualDevice::isPlaying() {
  const std::lock_guard guard(mutex);
  return playing;
}

ManualDevice::Counts ManualDevice::counts() {
  const std::lock_guard guard(mutex);
  return counted;
}

std::vector<std::uint8_t> ManualDevice::contents() {
  const std::lock_guard guard(mutex);
  return ring->contents();
}

bool ManualDevice::waitForLockAttempts(int attempts, std::chrono::milliseconds timeout) {
  std::unique_lock guard(mutex);
  return changed.wait_for(guard, timeout, [&] { return counted.lockAttempts >= attempts; });
}

void ManualDevice::setStepping(bool on) {
  {
    const std::lock_guard guard(mutex);
    stepping = on;
    stepper = std::this_thread::get_id();
    refillsAllowed = 0;
  }
  changed.notify_all();
}

bool ManualDevice::waitForWorkerAtRefill(std::chrono::milliseconds timeout) {
  std::unique_lock guard(mutex);
  return changed.wait_for(guard, timeout, [&] { return refillsWaiting > 0; });
}

bool ManualDevice::runRefills(int count, std::chrono::milliseconds timeout) {
  std::unique_lock guard(mutex);
  for (int i = 0; i < count; ++i) {
    if (!changed.wait_for(guard, timeout, [&] { return refillsWaiting > 0; }))
      return false;
    refillsAllowed = 1;
    changed.notify_all();
    // The worker takes the go-ahead, refills and comes back to the next one.
    if (!changed.wait_for(guard, timeout,
                          [&] { return refillsAllowed == 0 && refillsWaiting > 0; }))
      return false;
  }
  return true;
}

std::uint32_t ManualDevice::readCursor() {
  std::unique_lock guard(mutex);
  if (stepping && std::this_thread::get_id() != stepper) {
    ++refillsWaiting;
    changed.notify_all();
    changed.wait(guard, [&] { return !stepping || refillsAllowed > 0; });
    if (stepping)
      --refillsAllowed;
    --refillsWaiting;
  }
  return playCursor;
}

// The manual backend keeps all its data in the one ManualDevice; the state
// pointer only marks that create() ran.
struct SoundBuffer::State {};

SoundBuffer::SoundBuffer() = default;

SoundBuffer::~SoundBuffer() {
  release();
}

bool SoundBuffer::create(WindowHandle) {
  release();
  ManualDevice& device = manualDevice();
  const std::lock_guard guard(device.mutex);
  if (device.deviceMissing)
    return false;
  state = std::make_unique<State>();
  device.exists = true;
  device.playing = false;
  device.playCursor = 0;
  device.travelled = 0;
  device.ring = std::make_unique<PcmRing>();
  return true;
}

bool SoundBuffer::lock(std::uint32_t offset, std::uint32_t bytes, LockedRegions& regions) {
  if (!state)
    return false;
  ManualDevice& device = manualDevice();
  bool locked = false;
  {
    const std::lock_guard guard(device.mutex);
    ++device.counted.lockAttempts;
    if (device.locksToFail != 0) {
      if (device.locksToFail > 0)
        --device.locksToFail;
    } else {
      locked = device.ring->lock(offset, bytes, regions);
    }
  }
  device.changed.notify_all();
  return locked;
}

bool SoundBuffer::lockEntireBuffer(LockedRegions& regions) {
  return lock(0, kSoundBufferBytes, regions);
}

void SoundBuffer::unlock(const LockedRegions& regions) {
  if (!state)
    return;
  ManualDevice& device = manualDevice();
  const std::lock_guard guard(device.mutex);
  if (device.ring->unlock(regions))
    ++device.counted.unlocks;
}

void SoundBuffer::setPlayPosition(std::uint32_t offset) {
  if (!state)
    return;
  ManualDevice& device = manualDevice();
  const std::lock_guard guard(device.mutex);
  device.playCursor = offset % kSoundBufferBytes;
  device.travelled = 0;
}

void SoundBuffer::playLooping() {
  if (!state)
    return;
  ManualDevice& device = manualDevice();
  const std::lock_guard guard(device.mutex);
  device.playing = true;
  ++device.counted.plays;
}

bool SoundBuffer::playCursor(std::uint32_t& cursor) {
  if (!state)
    return false;
  cursor = manualDevice().readCursor();
  return true;
}

bool SoundBuffer::restore() {
  if (!state)
    return false;
  ManualDevice& device = manualDevice();
  const std::lock_guard guard(device.mutex);
  ++device.counted.restores;
  return device.restoreWorks;
}

// What the cursor has passed, heard now and standing until the test moves it.
bool SoundBuffer::heard(HeardReport& report) {
  ManualDevice& device = manualDevice();
  const std::lock_guard guard(device.mutex);
  if (!state || !device.playing)
    return false;
  report.frame = static_cast<std::int64_t>(device.travelled / kBytesPerFrame) -
                 device.outputLatency / kBytesPerFrame;
  report.at = HeardReport::Clock::now();
  report.reachFrames = 0;
  return true;
}

void SoundBuffer::release() {
  if (!state)
    return;
  ManualDevice& device = manualDevice();
  {
    const std::lock_guard guard(device.mutex);
    device.exists = false;
    device.playing = false;
  }
  state.reset();
}
