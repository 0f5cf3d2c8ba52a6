#include "app/scene_script.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void expectVec(Vec3 actual, Vec3 expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-3f);
  EXPECT_NEAR(actual.y, expected.y, 1e-3f);
  EXPECT_NEAR(actual.z, expected.z, 1e-3f);
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

TEST(ScenePlan, SlowSwingBefore96) {
  FramePlan plan = planFrame(95.99f);
  EXPECT_NEAR(plan.fov, 60.0f + 10.0f * std::sin(0.2f * 95.99f), 1e-4f);
  expectVec(plan.cameraPosition, {3.0f, 300.0f * std::sin(0.2f * 95.99f), 0.0f});
  EXPECT_NEAR(plan.roll, 0.2f * 95.99f, 1e-4f);
  EXPECT_NEAR(plan.colourPhase, 95.99f, 1e-4f);
}

TEST(ScenePlan, FastSwingFrom96To160) {
  for (float t : {96.0f, 159.99f}) {
    FramePlan plan = planFrame(t);
    EXPECT_NEAR(plan.fov, 60.0f + 10.0f * std::sin(t), 1e-4f) << t;
    expectVec(plan.cameraPosition, {3.0f, 300.0f * std::sin(t), 0.0f});
    EXPECT_NEAR(plan.roll, t, 1e-4f);
    EXPECT_NEAR(plan.colourPhase, 5.0f * t, 1e-3f);
  }
}

TEST(ScenePlan, OrbitFrom160WithAJumpEveryFourBeats) {
  // 160 to 164: int(t / 4) is 40, even: no jump.
  FramePlan plan = planFrame(161.0f);
  EXPECT_FLOAT_EQ(plan.fov, 90.0f);
  expectVec(plan.cameraPosition,
            {100.0f * std::sin(0.2f * 161.0f), 10.0f, 100.0f * std::cos(0.2f * 161.0f)});
  EXPECT_NEAR(plan.roll, 0.2f * 161.0f, 1e-4f);
  EXPECT_NEAR(plan.colourPhase, 0.3f * 161.0f, 1e-4f);

  // 164 to 168: x and the roll are those of t + 2; z follows t itself.
  for (float t : {164.5f, 167.9f}) {
    plan = planFrame(t);
    expectVec(plan.cameraPosition,
              {100.0f * std::sin(0.2f * (t + 2.0f)), 10.0f, 100.0f * std::cos(0.2f * t)});
    EXPECT_NEAR(plan.roll, 0.2f * (t + 2.0f), 1e-4f) << t;
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
    if (t < 160.0f) {
      // One swing at 0.15 radians a beat, its ring five times as fast.
      EXPECT_NEAR(reduced.fov, 60.0f + 10.0f * std::sin(0.15f * t), 1e-4f) << t;
      expectVec(reduced.cameraPosition, {3.0f, 300.0f * std::sin(0.15f * t), 0.0f});
      EXPECT_NEAR(reduced.roll, 0.15f * t, 1e-4f) << t;
      EXPECT_NEAR(reduced.colourPhase, 0.75f * t, 1e-3f) << t;
    } else {
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

TEST(ScenePlan, FieldOfViewStaysWithin50And70Until160) {
  for (float t = 0.0f; t < 160.0f; t += 0.37f) {
    float fov = planFrame(t).fov;
    EXPECT_GE(fov, 50.0f - 1e-4f);
    EXPECT_LE(fov, 70.0f + 1e-4f);
  }
}

} // namespace
