#include "effects.h"

#include <array>
#include <cstddef>
#include <vector>

namespace assets_gen {

namespace {

// A fixed-length delay line read and written at one position.
class DelayLine {
public:
  explicit DelayLine(size_t length) : buffer(length, 0.0f) {}
  float read() const { return buffer[position]; }
  void write(float sample) {
    buffer[position] = sample;
    position = (position + 1) % buffer.size();
  }

private:
  std::vector<float> buffer;
  size_t position = 0;
};

// Feedback comb with a one-pole lowpass in the loop: high frequencies die
// away faster, as in a real room.
class DampedComb {
public:
  DampedComb(size_t length, float loopGain, float loopDamping)
      : line(length), feedback(loopGain), damping(loopDamping) {}
  float process(float input) {
    float output = line.read();
    filtered = output * (1.0f - damping) + filtered * damping;
    line.write(input + filtered * feedback);
    return output;
  }

private:
  DelayLine line;
  float feedback, damping;
  float filtered = 0.0f;
};

class AllPass {
public:
  explicit AllPass(size_t length) : line(length) {}
  float process(float input) {
    float delayed = line.read();
    line.write(input + delayed * 0.5f);
    return delayed - input;
  }

private:
  DelayLine line;
};

std::vector<float> reverbChannel(const std::vector<float>& input, size_t spread, float roomSize,
                                 float damping) {
  constexpr std::array<size_t, 4> kCombLengths = {1153, 1217, 1291, 1373};
  constexpr std::array<size_t, 2> kAllPassLengths = {547, 433};
  std::vector<DampedComb> combs;
  for (size_t length : kCombLengths)
    combs.emplace_back(length + spread, roomSize, damping);
  std::vector<AllPass> allPasses;
  for (size_t length : kAllPassLengths)
    allPasses.emplace_back(length + spread);

  std::vector<float> out(input.size());
  for (size_t i = 0; i < input.size(); ++i) {
    float sum = 0.0f;
    for (DampedComb& comb : combs)
      sum += comb.process(input[i]);
    for (AllPass& allPass : allPasses)
      sum = allPass.process(sum);
    out[i] = sum * 0.25f;
  }
  return out;
}

} // namespace

StereoBuffer pingPongDelay(const StereoBuffer& dry, float delaySeconds, float feedback) {
  StereoBuffer wet(dry.frames());
  DelayLine toLeft(static_cast<size_t>(secondsToSamples(delaySeconds)));
  DelayLine toRight(static_cast<size_t>(secondsToSamples(delaySeconds)));
  for (int64_t i = 0; i < dry.frames(); ++i) {
    float echoLeft = toLeft.read();
    float echoRight = toRight.read();
    // Both inputs enter on the left; each echo then crosses to the other side.
    toLeft.write(0.5f * (dry.left[i] + dry.right[i]) + echoRight * feedback);
    toRight.write(echoLeft * feedback);
    wet.left[i] = echoLeft;
    wet.right[i] = echoRight;
  }
  return wet;
}

StereoBuffer reverb(const StereoBuffer& dry, float roomSize, float damping) {
  StereoBuffer wet(0);
  wet.left = reverbChannel(dry.left, 0, roomSize, damping);
  wet.right = reverbChannel(dry.right, 29, roomSize, damping);
  return wet;
}

} // namespace assets_gen
