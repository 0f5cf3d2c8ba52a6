#pragma once

#include <vector>

struct Key {
  float time;
  float value;
};

// A looping animation curve: keys in ascending time order (never sorted),
// evaluated by wrapping the time into the period (the last key's time) and
// interpolating with a Catmull-Rom cubic through four neighbouring keys.
class KeyTrack {
public:
  void addKey(const Key& key) { keys.push_back(key); }

  // The curve's value at time t. Throws the character string
  // "not enough keys" when the track has fewer than four keys.
  float evaluate(float t) const;

  // The lowest i with key[i].time <= w < key[i + 1 wrapping].time, else 0.
  int findSegment(float wrappedTime) const;

  const std::vector<Key>& allKeys() const { return keys; }

private:
  std::vector<Key> keys;
};

// The Catmull-Rom cubic between p1 (s = 0) and p2 (s = 1). Not clamped: it
// overshoots where the neighbours demand it.
float catmullRom(float p0, float p1, float p2, float p3, float s);
