#include "app/scene_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

void expectVec(Vec3 actual, Vec3 expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-3f);
  EXPECT_NEAR(actual.y, expected.y, 1e-3f);
  EXPECT_NEAR(actual.z, expected.z, 1e-3f);
}

float distance(Vec3 a, Vec3 b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                   (a.z - b.z) * (a.z - b.z));
}

// The swing's angle: the roll, which grows at the swing's pace.
float swingPace(float t, Flashing flashing = Flashing::AsComposed) {
  return (planFrame(t + 0.01f, flashing).roll - planFrame(t, flashing).roll) / 0.01f;
}

// Walks [from, to) in small steps and expects the camera never to move further
// in a step than a swing of `pace` radians a beat at radius 300 allows.
void expectSmoothPath(float from, float to, float pace, Flashing flashing) {
  const float step = 0.01f;
  FramePlan last = planFrame(from, flashing);
  for (float t = from + step; t < to; t += step) {
    const FramePlan plan = planFrame(t, flashing);
    EXPECT_LE(distance(plan.cameraPosition, last.cameraPosition), 300.0f * pace * step * 1.05f)
        << t;
    EXPECT_NEAR(plan.roll - last.roll, pace * step, 1e-3f) << t;
    EXPECT_NEAR(plan.fov, last.fov, 10.0f * pace * step * 1.05f) << t;
    last = plan;
  }
}

TEST(ScenePlan, BeatTimeIsTenThirdsOfTheSeconds) {
  EXPECT_FLOAT_EQ(beatTimeOf(0.0f), 0.0f);
  EXPECT_NEAR(beatTimeOf(9.6f), 32.0f, 1e-4f);
  EXPECT_NEAR(beatTimeOf(48.0f), 160.0f, 1e-4f);
}

TEST(ScenePlan, BeforePlaybackTheCameraSitsOnTheXAxis) {
  FramePlan plan = planFrame(0.0f);
  EXPECT_FLOAT_EQ(plan.fov, 60.0f);
  expectVec(plan.cameraPosition, {3.0f, 0.0f, 0.0f});
  EXPECT_FLOAT_EQ(plan.roll, 0.0f);
  EXPECT_FLOAT_EQ(plan.colourPhase, 0.0f);
  EXPECT_EQ(plan.overlay, Overlay::None);
}

TEST(ScenePlan, OverlayAndAdditiveBlendingStartStrictlyAfterBeat32) {
  EXPECT_EQ(planFrame(32.0f).overlay, Overlay::None);
  EXPECT_EQ(planFrame(std::nextafter(32.0f, 33.0f)).overlay, Overlay::Logo);
  EXPECT_EQ(planFrame(159.99f).overlay, Overlay::Logo);
  EXPECT_EQ(planFrame(160.0f).overlay, Overlay::Credits);

  // Blending, once on, stays on for the mesh in every later frame.
  EXPECT_FALSE(planFrame(0.0f).additiveBlending);
  EXPECT_FALSE(planFrame(32.0f).additiveBlending);
  for (float t : {std::nextafter(32.0f, 33.0f), 100.0f, 160.0f, 161.0f, 500.0f})
    EXPECT_TRUE(planFrame(t).additiveBlending) << t;
}

// Until beat 160 the camera swings along a line 3 units beside the mesh, up to
// 300 units out on either side, the field of view swinging with it between 50
// and 70 degrees.
TEST(ScenePlan, TheSwingRunsAlongALineBesideTheMeshWithTheViewWidening) {
  for (Flashing flashing : {Flashing::AsComposed, Flashing::Reduced}) {
    for (float t = 0.0f; t < 160.0f; t += 0.37f) {
      const FramePlan plan = planFrame(t, flashing);
      EXPECT_FLOAT_EQ(plan.cameraPosition.x, 3.0f) << t;
      EXPECT_FLOAT_EQ(plan.cameraPosition.z, 0.0f) << t;
      EXPECT_LE(std::fabs(plan.cameraPosition.y), 300.0f + 1e-3f) << t;
      EXPECT_GE(plan.fov, 50.0f - 1e-4f) << t;
      EXPECT_LE(plan.fov, 70.0f + 1e-4f) << t;
      // Widest where the camera is furthest out, on either side; the ring of
      // brightness turns five times as fast as the swing.
      EXPECT_NEAR((plan.fov - 60.0f) / 10.0f, plan.cameraPosition.y / 300.0f, 1e-4f) << t;
      EXPECT_NEAR(plan.colourPhase, 5.0f * plan.roll, 2e-3f) << t;
    }
  }
  // It reaches both ends of the line within a period of the slow swing.
  float lowest = 0, highest = 0;
  for (float t = 0.0f; t < 32.0f; t += 0.05f) {
    lowest = std::min(lowest, planFrame(t).cameraPosition.y);
    highest = std::max(highest, planFrame(t).cameraPosition.y);
  }
  EXPECT_LT(lowest, -299.0f);
  EXPECT_GT(highest, 299.0f);
}

// The swing's pace: 0.2 radians a beat, 1 from beat 96 (the middle section
// starts exactly there), and 0.15 throughout with reduced flashing.
TEST(ScenePlan, TheSwingKeepsItsPaceAndMovesSmoothlyWithinEachSection) {
  EXPECT_NEAR(swingPace(10.0f), 0.2f, 1e-3f);
  EXPECT_NEAR(swingPace(100.0f), 1.0f, 1e-3f);
  EXPECT_NEAR(swingPace(10.0f, Flashing::Reduced), 0.15f, 1e-3f);
  EXPECT_NEAR(swingPace(100.0f, Flashing::Reduced), 0.15f, 1e-3f);
  EXPECT_NEAR(planFrame(96.0f).colourPhase, 480.0f, 1e-3f);

  expectSmoothPath(0.0f, 96.0f, 0.2f, Flashing::AsComposed);
  expectSmoothPath(96.0f, 160.0f, 1.0f, Flashing::AsComposed);
  // With reduced flashing there is one swing: no jump at beat 96.
  expectSmoothPath(0.0f, 160.0f, 0.15f, Flashing::Reduced);
}

// From beat 160 the camera circles 10 units above the mesh's plane, 100 units
// from its axis at a fifth of a radian a beat, with a 90 degree view; every
// other four beats its roll (and sideways position) runs two beats ahead, so
// it jumps at every multiple of four while the depth (z) moves on smoothly.
TEST(ScenePlan, TheOrbitCirclesAtAHundredAndJumpsEveryFourBeats) {
  for (float t = 160.0f; t < 164.0f; t += 0.1f) {
    const FramePlan plan = planFrame(t);
    EXPECT_FLOAT_EQ(plan.fov, 90.0f) << t;
    EXPECT_FLOAT_EQ(plan.cameraPosition.y, 10.0f) << t;
    EXPECT_NEAR(std::hypot(plan.cameraPosition.x, plan.cameraPosition.z), 100.0f, 1e-2f) << t;
  }
  EXPECT_NEAR(swingPace(161.0f), 0.2f, 1e-3f);
  EXPECT_NEAR(planFrame(161.0f).colourPhase, 0.3f * 161.0f, 1e-3f);

  for (float boundary : {164.0f, 168.0f, 172.0f}) {
    const FramePlan before = planFrame(boundary - 0.001f);
    const FramePlan after = planFrame(boundary);
    EXPECT_NEAR(after.cameraPosition.z, before.cameraPosition.z, 0.05f) << boundary;
    // Two beats ahead at a fifth of a radian a beat, or back again.
    EXPECT_NEAR(std::fabs(after.roll - before.roll), 0.4f, 1e-3f) << boundary;
  }
}

TEST(ScenePlan, CreditsDarkForTwoBeatsThenFlashing) {
  EXPECT_FLOAT_EQ(planFrame(160.0f).creditsBrightness, 0.0f);
  EXPECT_FLOAT_EQ(planFrame(161.0f).creditsBrightness, 0.0f);
  // 162.1: a tenth into a quarter-beat flash... 4t = 648.4, fraction 0.4.
  EXPECT_NEAR(planFrame(162.1f).creditsBrightness, 0.16f, 2e-3f);
  EXPECT_FLOAT_EQ(planFrame(164.5f).creditsBrightness, 0.0f);
  EXPECT_NEAR(planFrame(167.9f).creditsBrightness, std::pow(std::fmod(4.0f * 167.9f, 1.0f), 2.0f),
              1e-5f);
  // No credits, no brightness.
  EXPECT_FLOAT_EQ(planFrame(100.0f).creditsBrightness, 0.0f);
}

TEST(ScenePlan, ReducedFlashingSwingsGentlyAndLightsTheCreditsSteadily) {
  for (float t = 0.0f; t < 300.0f; t += 0.173f) {
    const FramePlan composed = planFrame(t);
    const FramePlan reduced = planFrame(t, Flashing::Reduced);
    EXPECT_EQ(reduced.overlay, composed.overlay) << t;
    EXPECT_EQ(reduced.additiveBlending, composed.additiveBlending) << t;
    // The swing's reduced pace is checked with the other swings; the orbit
    // is the same.
    if (t >= 160.0f) {
      EXPECT_EQ(reduced.fov, composed.fov) << t;
      EXPECT_EQ(reduced.cameraPosition.x, composed.cameraPosition.x) << t;
      EXPECT_EQ(reduced.cameraPosition.y, composed.cameraPosition.y) << t;
      EXPECT_EQ(reduced.cameraPosition.z, composed.cameraPosition.z) << t;
      EXPECT_EQ(reduced.roll, composed.roll) << t;
      EXPECT_EQ(reduced.colourPhase, composed.colourPhase) << t;
    }
    // Lit halves: beats 162 to 164, 166 to 168 and so on.
    const bool lit = t >= 160.0f && static_cast<long long>(t * 0.5f) % 2 == 1;
    EXPECT_EQ(reduced.creditsBrightness, lit ? 1.0f : 0.0f) << t;
    if (!lit) {
      EXPECT_EQ(composed.creditsBrightness, 0.0f) << t;
    }
  }
}

} // namespace
