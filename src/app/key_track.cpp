#include "app/key_track.h"

#include "fixed_texts.h"

#include <cmath>

float catmullRom(float p0, float p1, float p2, float p3, float s) {
  float a1 = p2 - p0;
  float a2 = 2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3;
  float a3 = -p0 + 3.0f * p1 - 3.0f * p2 + p3;
  return (((a3 * s + a2) * s + a1) * s + 2.0f * p1) * 0.5f;
}

int KeyTrack::findSegment(float wrappedTime) const {
  int count = static_cast<int>(keys.size());
  for (int i = 0; i < count; ++i) {
    const Key& next = keys[(i + 1) % count];
    if (keys[i].time <= wrappedTime && wrappedTime < next.time)
      return i;
  }
  // Below the first key (negative times): segment 0, extrapolated.
  return 0;
}

float KeyTrack::evaluate(float t) const {
  if (keys.size() < 4)
    throw kNotEnoughKeysText;
  int count = static_cast<int>(keys.size());
  float period = keys.back().time;
  // fmod keeps the sign of t, so a negative time stays negative here.
  float wrapped = std::fmod(t, period);

  int i = findSegment(wrapped);
  int next = (i + 1) % count;
  int prev = i == 0 ? count - 1 : i - 1;
  int after = (i + 2) % count;

  float span = keys[next].time - keys[i].time;
  if (span == 0.0f)
    return keys[i].value;
  float s = (wrapped - keys[i].time) / span;
  return catmullRom(keys[prev].value, keys[i].value, keys[next].value, keys[after].value, s);
}
