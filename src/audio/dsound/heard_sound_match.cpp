#include "audio/dsound/heard_sound_match.h"

#include "audio/sound_buffer.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

using Complex = std::complex<double>;

// A captured stretch quieter than this (RMS, full scale 1.0) says nothing.
constexpr double kSilenceRms = 1e-3;
// A written window quieter than this cannot be what a non-silent capture
// copies; it scores 0 instead of dividing rounding noise by nearly nothing.
constexpr double kWrittenSilenceRms = 1e-5;
constexpr double kMinimumScore = 0.6;
// Starts this close to the best belong to its own peak, however the scores
// fall round it; a start outside that peak scoring above kAmbiguousRatio of
// the best makes the answer ambiguous.
constexpr std::int64_t kOwnPeakFrames = 8;
constexpr double kAmbiguousRatio = 0.9;

std::size_t powerOfTwoAtLeast(std::size_t n) {
  std::size_t size = 1;
  while (size < n)
    size <<= 1;
  return size;
}

// The twiddles e^(-2 pi i k / n), k < n / 2, of a transform of length n. One
// table computed with cos and sin keeps them exact to rounding, unlike
// multiplying a step up thousands of times, and serves every transform of a
// match.
std::vector<Complex> twiddlesFor(std::size_t n) {
  const double pi = std::acos(-1.0);
  std::vector<Complex> twiddles(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k)
    twiddles[k] = std::polar(1.0, -2.0 * pi * double(k) / double(n));
  return twiddles;
}

// In-place iterative radix-2 FFT; the length is a power of two and
// `twiddles` are those of that length. `inverse` turns the twiddles round and
// leaves the result unscaled (the length times the true inverse).
void fft(std::vector<Complex>& data, const std::vector<Complex>& twiddles, bool inverse) {
  const std::size_t n = data.size();
  // Reorder into bit-reversed index order, so that each pass below combines
  // neighbouring blocks in place.
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1)
      j ^= bit;
    j ^= bit;
    if (i < j)
      std::swap(data[i], data[j]);
  }
  // Each pass merges pairs of transforms of half the length into transforms
  // of `length`: the butterfly even +- twiddle * odd.
  for (std::size_t length = 2; length <= n; length <<= 1) {
    const std::size_t half = length / 2;
    const std::size_t stride = n / length;
    for (std::size_t block = 0; block < n; block += length) {
      for (std::size_t k = 0; k < half; ++k) {
        const Complex even = data[block + k];
        const Complex twiddle = twiddles[k * stride];
        const Complex odd = data[block + k + half] * (inverse ? std::conj(twiddle) : twiddle);
        data[block + k] = even + odd;
        data[block + k + half] = even - odd;
      }
    }
  }
}

} // namespace

void WrittenHistory::append(const std::int16_t* stereo, std::size_t frames) {
  std::lock_guard<std::mutex> lock(mutex);
  for (std::size_t i = 0; i < frames; ++i) {
    const float sum = float(stereo[2 * i]) + float(stereo[2 * i + 1]);
    ring[std::size_t(total) % kKeptFrames] = sum * (0.5f / 32768.0f);
    ++total;
  }
}

std::int64_t WrittenHistory::totalFrames() const {
  std::lock_guard<std::mutex> lock(mutex);
  return total;
}

bool WrittenHistory::copy(std::int64_t from, std::size_t count, float* out) const {
  std::lock_guard<std::mutex> lock(mutex);
  const std::int64_t oldest = std::max<std::int64_t>(0, total - std::int64_t(kKeptFrames));
  if (from < oldest || from + std::int64_t(count) > total)
    return false;
  // At most two pieces: up to the ring's end, then on from its start.
  const std::size_t start = std::size_t(from) % kKeptFrames;
  const std::size_t first = std::min(count, kKeptFrames - start);
  std::copy_n(ring.begin() + std::ptrdiff_t(start), first, out);
  std::copy_n(ring.begin(), count - first, out + first);
  return true;
}

StretchMatch matchStretch(const WrittenHistory& written, const float* captured, std::size_t count,
                          std::int64_t earliest, std::int64_t latest) {
  StretchMatch match;
  if (count == 0)
    return match;
  const std::int64_t total = written.totalFrames();
  earliest = std::max(earliest, total - std::int64_t(WrittenHistory::kKeptFrames));
  earliest = std::max<std::int64_t>(earliest, 0);
  latest = std::min(latest, total - std::int64_t(count));
  if (earliest > latest)
    return match;

  double capturedEnergy = 0.0;
  for (std::size_t i = 0; i < count; ++i)
    capturedEnergy += double(captured[i]) * captured[i];
  if (capturedEnergy < kSilenceRms * kSilenceRms * double(count))
    return match;

  // The written frames under every start: start s covers window[s, s + count).
  const auto starts = std::size_t(latest - earliest + 1);
  std::vector<float> window(starts + count - 1);
  if (!written.copy(earliest, window.size(), window.data()))
    return match; // appends since totalFrames() pushed the range out

  // Every start's dot product at once: the inverse transform of
  // W * conj(C) is the circular cross-correlation, and with both padded to
  // at least the window's length no product wraps round into another start.
  const std::size_t size = powerOfTwoAtLeast(window.size());
  std::vector<Complex> writtenSpectrum(size);
  std::vector<Complex> product(size);
  std::copy(window.begin(), window.end(), writtenSpectrum.begin());
  std::copy_n(captured, count, product.begin());
  const auto twiddles = twiddlesFor(size);
  fft(writtenSpectrum, twiddles, false);
  fft(product, twiddles, false);
  for (std::size_t k = 0; k < size; ++k)
    product[k] = writtenSpectrum[k] * std::conj(product[k]);
  fft(product, twiddles, true);

  // Each window's energy from prefix sums of squares.
  std::vector<double> squares(window.size() + 1, 0.0);
  for (std::size_t i = 0; i < window.size(); ++i)
    squares[i + 1] = squares[i] + double(window[i]) * window[i];

  std::vector<double> scores(starts, 0.0);
  std::size_t best = 0;
  for (std::size_t s = 0; s < starts; ++s) {
    const double energy = squares[s + count] - squares[s];
    if (energy >= kWrittenSilenceRms * kWrittenSilenceRms * double(count)) {
      const double dot = product[s].real() / double(size);
      scores[s] = std::min(1.0, dot / std::sqrt(energy * capturedEnergy));
    }
    if (scores[s] > scores[best])
      best = s;
  }
  if (scores[best] < kMinimumScore)
    return match;
  // The best start's own peak reaches as far as the scores keep falling away
  // from it (wide for low, bass-heavy sound); another start outside it that
  // scores nearly as well makes the answer ambiguous.
  std::size_t peakFirst = best;
  while (peakFirst > 0 && scores[peakFirst - 1] <= scores[peakFirst])
    --peakFirst;
  std::size_t peakLast = best;
  while (peakLast + 1 < starts && scores[peakLast + 1] <= scores[peakLast])
    ++peakLast;
  constexpr auto kOwnPeak = static_cast<std::size_t>(kOwnPeakFrames);
  const std::size_t ownFirst = std::min(peakFirst, best - std::min(best, kOwnPeak));
  const std::size_t ownLast = std::max(peakLast, best + kOwnPeak);
  for (std::size_t s = 0; s < starts; ++s) {
    const bool ownPeak = s >= ownFirst && s <= ownLast;
    if (!ownPeak && scores[s] > kAmbiguousRatio * scores[best])
      return match;
  }
  match.found = true;
  match.writtenFrame = earliest + std::int64_t(best);
  match.score = scores[best];
  return match;
}

void CaptureTiming::addPacket(std::int64_t firstFrame, std::uint32_t frames, double stampSeconds) {
  const Bound bound{stampSeconds, stampSeconds - double(firstFrame + frames) / double(kSampleRate)};
  while (!envelope.empty() && envelope.back().frameZeroAt >= bound.frameZeroAt)
    envelope.pop_back();
  envelope.push_back(bound);
  latestStamp = std::max(latestStamp, stampSeconds);
  // The newest packet always stays, so that a ready timing stays ready.
  while (envelope.size() > 1 && envelope.front().stamp < latestStamp - kWindowSeconds)
    envelope.pop_front();
}

void CaptureTiming::reset() {
  envelope.clear();
  latestStamp = -std::numeric_limits<double>::infinity();
}

bool CaptureTiming::ready() const {
  return !envelope.empty();
}

double CaptureTiming::renderedAt(std::int64_t frame) const {
  return envelope.front().frameZeroAt + double(frame) / double(kSampleRate);
}
