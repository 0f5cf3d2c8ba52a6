#include <gtest/gtest.h>

#include <array>
#include <numbers>

#include "scene/math.h"
#include "scene/scene_object.h"

namespace {

constexpr float kQuarterTurn = std::numbers::pi_v<float> / 2;

Vec3 transformPoint(const Matrix4& m, Vec3 p) {
  return m.transformDirection(p) + Vec3{m.m[12], m.m[13], m.m[14]};
}

void expectMatrix(const Matrix4& actual, const std::array<float, 16>& expected) {
  for (int i = 0; i < 16; ++i) {
    EXPECT_NEAR(actual.m[i], expected[i], 1e-5f) << "element " << i;
  }
}

void expectVec(Vec3 actual, Vec3 expected, float within = 1e-5f) {
  EXPECT_NEAR(actual.x, expected.x, within);
  EXPECT_NEAR(actual.y, expected.y, within);
  EXPECT_NEAR(actual.z, expected.z, within);
}

TEST(Matrix4Test, RotationTurnsAboutXThenYThenZ) {
  Matrix4 r;
  r.rotation(0, 0, 0.5f);
  expectVec(r.transformDirection({1, 0, 0}), {std::cos(0.5f), std::sin(0.5f), 0});
  // Quarter turns about all three axes: X, then Y, then Z sends +Y round to
  // +Y and +X to -Z; the reverse order would give -Y and +Z.
  r.rotation(kQuarterTurn, kQuarterTurn, kQuarterTurn);
  expectVec(r.transformDirection({0, 1, 0}), {0, 1, 0});
  expectVec(r.transformDirection({1, 0, 0}), {0, 0, -1});
}

TEST(Matrix4Test, PerspectiveHasNoFarPlane) {
  Matrix4 p;
  p.perspective(90, 1.3333334f, 1.0f);
  expectMatrix(p, {0.75f, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, -1, 0, 0, -2, 0});
  Matrix4 square;
  square.perspective(90, 0.0f, 1.0f); // aspect 0 counts as 1
  EXPECT_NEAR(square.m[0], 1.0f, 1e-6f);
}

TEST(Matrix4Test, ProductAppliesTheRightOperandFirst) {
  Matrix4 turn, shift;
  turn.rotation(0, 0, kQuarterTurn);
  shift.identity().m[12] = 1;
  expectVec(transformPoint(turn * shift, {0, 0, 0}), {0, 1, 0});
  expectVec(transformPoint(shift * turn, {0, 0, 0}), {1, 0, 0});
  EXPECT_EQ(shift.transformDirection({1, 2, 3}).x, 1.0f); // no translation

  Matrix4 accumulated = turn;
  const Matrix4 returned = (accumulated *= shift);
  expectVec(transformPoint(accumulated, {0, 0, 0}), {0, 1, 0});
  expectVec(transformPoint(returned, {0, 0, 0}), {0, 1, 0});
}

TEST(LookAtTest, CameraStandsAtMinusPositionAndRolls) {
  Matrix4 camera;
  camera.lookAt({3, 0, 0}, {0, 0, 0}, 0);
  expectMatrix(camera, {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, -3, 1});
  camera.lookAt({3, 0, 0}, {0, 0, 0}, kQuarterTurn);
  expectMatrix(camera, {0, 0, -1, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -3, 1});
}

TEST(LookAtTest, TargetLandsOnNegativeZAtItsDistance) {
  Matrix4 camera;
  camera.lookAt({3, 300, 0}, {0, 0, 0}, 0.7f);
  expectVec(transformPoint(camera, {0, 0, 0}), {0, 0, -300.015f}, 1e-3f);
  expectVec(transformPoint(camera, {-3, -300, 0}), {0, 0, 0}, 1e-3f);
}

TEST(SceneObjectTest, OutermostAncestorAppliesLast) {
  SceneObject root(nullptr, nullptr), middle(nullptr, &root), leaf(nullptr, &middle);
  root.transform.rotation(0, 0, kQuarterTurn);
  middle.transform.m[12] = 1;
  leaf.transform.m[14] = 2;
  // The leaf's origin: (0, 0, 2), moved to (1, 0, 2), turned to (0, 1, 2).
  expectVec(transformPoint(leaf.worldTransform(), {0, 0, 0}), {0, 1, 2});
}

} // namespace
