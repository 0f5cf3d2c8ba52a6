#include "instruments.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <utility>

namespace assets_gen {

namespace {

std::vector<float> voiceBuffer(float seconds) {
  return std::vector<float>(static_cast<size_t>(secondsToSamples(seconds)), 0.0f);
}

float timeOf(size_t sample) {
  return static_cast<float>(sample) / kSampleRate;
}

// Filter sweeps are recomputed every few samples only (0.36 ms apart, far
// too close to hear as steps); in between the filter keeps its coefficients.
constexpr size_t kControlInterval = 16;
bool controlTick(size_t sample) {
  return sample % kControlInterval == 0;
}

// Ramps the last 5 ms down to silence, so a voice cut off at the end of its
// buffer ends without a click.
std::vector<float> fadeTail(std::vector<float> voice) {
  size_t ramp = std::min(voice.size(), static_cast<size_t>(secondsToSamples(0.005)));
  for (size_t i = 0; i < ramp; ++i)
    voice[voice.size() - 1 - i] *= static_cast<float>(i) / static_cast<float>(ramp);
  return voice;
}

// Decaying exponential with time constant `tau` seconds.
float decay(float time, float tau) {
  return std::exp(-time / tau);
}

// Soft saturation that keeps small signals linear.
float drive(float sample, float amount) {
  return std::tanh(sample * amount) / amount;
}

// Inharmonic square partials mixed into the cymbals for a metallic ring.
constexpr std::array<float, 6> kMetalFrequencies = {205.3f, 304.4f, 369.6f, 522.7f, 540.0f, 800.0f};
using MetalPartials = std::array<Oscillator, kMetalFrequencies.size()>;

float metal(MetalPartials& partials) {
  float sum = 0.0f;
  for (size_t i = 0; i < partials.size(); ++i)
    sum += partials[i].pulse(kMetalFrequencies[i], 0.5f);
  return sum / static_cast<float>(partials.size());
}

std::vector<float> cymbal(Noise& noise, float seconds, float tau, float highpassHz) {
  std::vector<float> out = voiceBuffer(seconds);
  MetalPartials partials;
  Filter highpass, tone;
  for (size_t i = 0; i < out.size(); ++i) {
    float t = timeOf(i);
    float source = 0.65f * noise.next() + 0.35f * metal(partials);
    float bright = highpass.highpass(source, highpassHz, 0.2f);
    out[i] = tone.lowpass(bright, 14000.0f, 0.0f) * decay(t, tau) * std::min(1.0f, t * 2000.0f);
  }
  return fadeTail(std::move(out));
}

} // namespace

std::vector<float> kick() {
  std::vector<float> out = voiceBuffer(0.6f);
  Oscillator body;
  for (size_t i = 0; i < out.size(); ++i) {
    float t = timeOf(i);
    // The pitch drops quickly from a knock to the low body tone.
    float frequency = 48.0f + 130.0f * decay(t, 0.03f);
    float tone = body.sine(frequency) * decay(t, 0.17f);
    float click = 0.5f * decay(t, 0.0015f);
    out[i] = drive(tone + click, 1.8f);
  }
  return fadeTail(std::move(out));
}

std::vector<float> snare(Noise& noise) {
  std::vector<float> out = voiceBuffer(0.32f);
  Oscillator shell1, shell2;
  Filter band, low;
  for (size_t i = 0; i < out.size(); ++i) {
    float t = timeOf(i);
    float shell = 0.55f * shell1.sine(190.0f) * decay(t, 0.05f) +
                  0.3f * shell2.sine(335.0f) * decay(t, 0.03f);
    float rattle = band.bandpass(noise.next(), 3200.0f, 0.15f);
    rattle = low.lowpass(rattle, 9000.0f, 0.0f) * 1.4f * decay(t, 0.085f);
    out[i] = drive(shell + rattle, 1.3f);
  }
  return fadeTail(std::move(out));
}

std::vector<float> closedHat(Noise& noise) {
  return cymbal(noise, 0.12f, 0.025f, 7500.0f);
}

std::vector<float> openHat(Noise& noise) {
  return cymbal(noise, 0.6f, 0.16f, 6500.0f);
}

std::vector<float> crash(Noise& noise) {
  return cymbal(noise, 3.2f, 0.75f, 3500.0f);
}

std::vector<float> bassNote(float note, float seconds) {
  Envelope amp{0.003f, 0.25f, 0.75f, 0.03f};
  std::vector<float> out = voiceBuffer(amp.length(seconds));
  float frequency = noteFrequency(note);
  Oscillator saw, sub;
  Filter filter;
  float cutoff = 0.0f;
  for (size_t i = 0; i < out.size(); ++i) {
    float t = timeOf(i);
    if (controlTick(i))
      cutoff = 160.0f + 1500.0f * decay(t, 0.07f);
    float raw = 0.7f * saw.saw(frequency) + 0.6f * sub.sine(frequency * 0.5f);
    out[i] = drive(filter.lowpass(raw, cutoff, 0.5f), 1.5f) * amp.level(t, seconds);
  }
  return fadeTail(std::move(out));
}

std::vector<float> padNote(float note, float seconds, float cutoffHz) {
  Envelope amp{0.35f, 1.0f, 1.0f, 0.45f};
  std::vector<float> out = voiceBuffer(amp.length(seconds));
  // Three saws a few cents apart beat slowly against each other (chorus).
  constexpr float kDetuneCents[3] = {-9.0f, 0.0f, 8.0f};
  std::vector<Oscillator> saws = {Oscillator(0.0), Oscillator(0.37), Oscillator(0.71)};
  float frequencies[3];
  for (size_t s = 0; s < saws.size(); ++s)
    frequencies[s] = noteFrequency(note) * std::exp2(kDetuneCents[s] / 1200.0f);
  Filter filter;
  float cutoff = 0.0f;
  for (size_t i = 0; i < out.size(); ++i) {
    float t = timeOf(i);
    float raw = 0.0f;
    for (size_t s = 0; s < saws.size(); ++s)
      raw += saws[s].saw(frequencies[s]);
    if (controlTick(i))
      cutoff = cutoffHz * (1.0f + 0.3f * std::sin(2.0f * std::numbers::pi_v<float> * 0.4f * t));
    out[i] = filter.lowpass(raw / 3.0f, cutoff, 0.2f) * amp.level(t, seconds);
  }
  return fadeTail(std::move(out));
}

std::vector<float> leadNote(float note, float seconds) {
  Envelope amp{0.008f, 0.18f, 0.65f, 0.1f};
  std::vector<float> out = voiceBuffer(amp.length(seconds));
  float base = noteFrequency(note);
  Oscillator pulse, saw;
  Filter filter;
  float cutoff = 0.0f;
  for (size_t i = 0; i < out.size(); ++i) {
    float t = timeOf(i);
    // Vibrato fades in once the note has settled.
    float depth = std::min(1.0f, std::max(0.0f, t - 0.15f) * 4.0f) * 0.18f;
    float semitones = depth * std::sin(2.0f * std::numbers::pi_v<float> * 5.5f * t);
    float frequency = base * std::exp2(semitones / 12.0f);
    float raw = 0.6f * pulse.pulse(frequency, 0.3f) + 0.4f * saw.saw(frequency * 1.003f);
    if (controlTick(i))
      cutoff = 1800.0f + 3500.0f * decay(t, 0.12f);
    out[i] = filter.lowpass(raw, cutoff, 0.3f) * amp.level(t, seconds);
  }
  return fadeTail(std::move(out));
}

std::vector<float> pluckNote(float note, float brightness) {
  std::vector<float> out = voiceBuffer(0.6f);
  float frequency = noteFrequency(note);
  Oscillator saw, pulse;
  Filter filter;
  float cutoff = 0.0f;
  for (size_t i = 0; i < out.size(); ++i) {
    float t = timeOf(i);
    float raw = 0.5f * saw.saw(frequency) + 0.5f * pulse.pulse(frequency * 2.0f, 0.5f);
    if (controlTick(i))
      cutoff = 300.0f + brightness * 5000.0f * decay(t, 0.06f);
    out[i] = filter.lowpass(raw, cutoff, 0.45f) * decay(t, 0.2f) * std::min(1.0f, t * 500.0f);
  }
  return fadeTail(std::move(out));
}

std::vector<float> chordStab(const std::vector<float>& notes) {
  std::vector<float> out = voiceBuffer(0.16f);
  std::vector<Oscillator> saws(notes.size());
  std::vector<float> frequencies;
  for (float note : notes)
    frequencies.push_back(noteFrequency(note));
  Filter filter;
  float cutoff = 0.0f;
  for (size_t i = 0; i < out.size(); ++i) {
    float t = timeOf(i);
    float raw = 0.0f;
    for (size_t n = 0; n < notes.size(); ++n)
      raw += saws[n].saw(frequencies[n]);
    if (controlTick(i))
      cutoff = 900.0f + 6000.0f * decay(t, 0.04f);
    out[i] = filter.lowpass(raw / static_cast<float>(notes.size()), cutoff, 0.35f) *
             decay(t, 0.06f) * std::min(1.0f, t * 800.0f);
  }
  return fadeTail(std::move(out));
}

std::vector<float> riser(Noise& noise, float seconds) {
  std::vector<float> out = voiceBuffer(seconds);
  Filter filter;
  float cutoff = 0.0f;
  for (size_t i = 0; i < out.size(); ++i) {
    float progress = timeOf(i) / seconds;
    if (controlTick(i))
      cutoff = 300.0f * std::exp2(progress * 4.5f);
    out[i] = filter.bandpass(noise.next(), cutoff, 0.6f) * progress * progress;
  }
  return fadeTail(std::move(out));
}

} // namespace assets_gen
