#include "synth.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace assets_gen {

int64_t secondsToSamples(double seconds) {
  return std::llround(seconds * kSampleRate);
}

float noteFrequency(float midiNote) {
  return 440.0f * std::exp2((midiNote - 69.0f) / 12.0f);
}

float Noise::next() {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  // The top 24 bits give an exactly representable float in [0, 1).
  return static_cast<float>(state >> 8) * (2.0f / 16777216.0f) - 1.0f;
}

namespace {

// Correction around a unit step discontinuity at phase 0 (polyBLEP):
// `phase` in [0, 1), `step` the phase advance per sample.
float stepCorrection(double phase, double step) {
  if (phase < step) {
    double x = phase / step;
    return static_cast<float>(x + x - x * x - 1.0);
  }
  if (phase > 1.0 - step) {
    double x = (phase - 1.0) / step;
    return static_cast<float>(x * x + x + x + 1.0);
  }
  return 0.0f;
}

double wrapPhase(double phase) {
  return phase - std::floor(phase);
}

} // namespace

float Oscillator::saw(float frequency) {
  double step = frequency / static_cast<double>(kSampleRate);
  float value = static_cast<float>(2.0 * phase - 1.0) - stepCorrection(phase, step);
  phase = wrapPhase(phase + step);
  return value;
}

float Oscillator::pulse(float frequency, float width) {
  double step = frequency / static_cast<double>(kSampleRate);
  float value = phase < width ? 1.0f : -1.0f;
  value += stepCorrection(phase, step);
  value -= stepCorrection(wrapPhase(phase + 1.0 - width), step);
  phase = wrapPhase(phase + step);
  // A pulse narrower than half the period has a mean of 2 * width - 1.
  return value - (2.0f * width - 1.0f);
}

float Oscillator::sine(float frequency) {
  float value = static_cast<float>(std::sin(2.0 * std::numbers::pi * phase));
  phase = wrapPhase(phase + frequency / static_cast<double>(kSampleRate));
  return value;
}

Filter::Outputs Filter::process(float input, float cutoffHz, float resonance) {
  if (cutoffHz != lastCutoff || resonance != lastResonance) {
    lastCutoff = cutoffHz;
    lastResonance = resonance;
    float g = std::tan(std::numbers::pi_v<float> *
                       std::clamp(cutoffHz, 10.0f, 0.45f * kSampleRate) / kSampleRate);
    damping = std::max(2.0f - 2.0f * resonance, 0.05f);
    a1 = 1.0f / (1.0f + g * (g + damping));
    a2 = g * a1;
    a3 = g * a2;
  }
  float v3 = input - state2;
  float band = a1 * state1 + a2 * v3;
  float low = state2 + a2 * state1 + a3 * v3;
  state1 = 2.0f * band - state1;
  state2 = 2.0f * low - state2;
  return {low, band, input - damping * band - low};
}

float Envelope::level(float time, float gateTime) const {
  auto held = [this](float t) {
    if (t < attack)
      return t / attack;
    return sustain + (1.0f - sustain) * std::exp(-(t - attack) / decay);
  };
  if (time < 0.0f)
    return 0.0f;
  if (time < gateTime)
    return held(time);
  return held(gateTime) * std::exp(-(time - gateTime) / release);
}

void StereoBuffer::addMono(int64_t start, const std::vector<float>& voice, float gain, float pan) {
  float angle = (std::clamp(pan, -1.0f, 1.0f) + 1.0f) * std::numbers::pi_v<float> / 4.0f;
  float leftGain = gain * std::cos(angle);
  float rightGain = gain * std::sin(angle);
  int64_t first = std::max<int64_t>(start, 0);
  int64_t last = std::min<int64_t>(start + static_cast<int64_t>(voice.size()), frames());
  for (int64_t frame = first; frame < last; ++frame) {
    float sample = voice[static_cast<size_t>(frame - start)];
    left[frame] += sample * leftGain;
    right[frame] += sample * rightGain;
  }
}

void StereoBuffer::addStereo(const StereoBuffer& other, float gain) {
  int64_t count = std::min(frames(), other.frames());
  for (int64_t frame = 0; frame < count; ++frame) {
    left[frame] += other.left[frame] * gain;
    right[frame] += other.right[frame] * gain;
  }
}

} // namespace assets_gen
