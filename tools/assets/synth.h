// Small sound-synthesis building blocks for the music generator: a
// deterministic noise source, band-limited oscillators, a state-variable
// filter, envelopes and a stereo mix buffer. Everything is plain arithmetic
// on floats so the same program renders the same samples on every run.
#pragma once

#include <cstdint>
#include <vector>

namespace assets_gen {

constexpr int kSampleRate = 44100;

// Seconds to a sample count, rounded to the nearest sample.
int64_t secondsToSamples(double seconds);

// MIDI note number to frequency in Hz (note 69 is A at 440 Hz).
float noteFrequency(float midiNote);

// Xorshift noise: the same seed yields the same sequence on every platform.
class Noise {
public:
  explicit Noise(uint32_t seed) : state(seed ? seed : 1u) {}
  // A uniform value in [-1, 1).
  float next();

private:
  uint32_t state;
};

// Sawtooth and pulse oscillators with polyBLEP edges, which removes most of
// the aliasing a naive ramp would fold back into the audible band.
class Oscillator {
public:
  explicit Oscillator(double startPhase = 0.0) : phase(startPhase) {}
  float saw(float frequency);
  float pulse(float frequency, float width);
  float sine(float frequency);

private:
  double phase;
};

// Trapezoidal state-variable filter (stable for any cutoff below Nyquist).
class Filter {
public:
  struct Outputs {
    float low, band, high;
  };
  // resonance: 0 is gentle, values toward 1 ring at the cutoff.
  Outputs process(float input, float cutoffHz, float resonance);
  float lowpass(float input, float cutoffHz, float resonance) {
    return process(input, cutoffHz, resonance).low;
  }
  float highpass(float input, float cutoffHz, float resonance) {
    return process(input, cutoffHz, resonance).high;
  }
  float bandpass(float input, float cutoffHz, float resonance) {
    return process(input, cutoffHz, resonance).band;
  }

private:
  // Coefficients for the last cutoff and resonance; most filters hold one
  // setting for a whole note, so the tangent is rarely recomputed.
  float lastCutoff = -1.0f, lastResonance = -1.0f;
  float damping = 0.0f, a1 = 0.0f, a2 = 0.0f, a3 = 0.0f;
  float state1 = 0.0f, state2 = 0.0f;
};

// Linear attack, exponential decay to a sustain level, exponential release
// after the gate closes. Times in seconds.
struct Envelope {
  float attack = 0.005f;
  float decay = 0.1f;
  float sustain = 1.0f;
  float release = 0.05f;
  // Level at `time` seconds after the note on, the gate held for `gateTime`.
  float level(float time, float gateTime) const;
  // How long the note sounds, release tail included.
  float length(float gateTime) const { return gateTime + 6.0f * release; }
};

// A stereo buffer that voices are mixed into.
class StereoBuffer {
public:
  explicit StereoBuffer(int64_t frames) : left(frames, 0.0f), right(frames, 0.0f) {}
  int64_t frames() const { return static_cast<int64_t>(left.size()); }
  // Adds a mono voice starting at frame `start` with equal-power panning
  // (pan -1 is hard left, +1 hard right); samples past the end are dropped.
  void addMono(int64_t start, const std::vector<float>& voice, float gain, float pan);
  void addStereo(const StereoBuffer& other, float gain);

  std::vector<float> left, right;
};

} // namespace assets_gen
