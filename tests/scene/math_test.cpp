#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>

#include "scene/math.h"

namespace {

constexpr float tolerance = 1e-5f;

// The transformed point M * (p, 1), dividing by nothing.
Vec3 transformPoint(const Matrix4& m, Vec3 p) {
  return {m.m[0] * p.x + m.m[4] * p.y + m.m[8] * p.z + m.m[12],
          m.m[1] * p.x + m.m[5] * p.y + m.m[9] * p.z + m.m[13],
          m.m[2] * p.x + m.m[6] * p.y + m.m[10] * p.z + m.m[14]};
}

void expectMatrix(const Matrix4& actual, const std::array<float, 16>& expected,
                  float within = tolerance) {
  for (int i = 0; i < 16; ++i) {
    EXPECT_NEAR(actual.m[i], expected[i], within) << "element " << i;
  }
}

void expectVec(Vec3 actual, Vec3 expected, float within = tolerance) {
  EXPECT_NEAR(actual.x, expected.x, within);
  EXPECT_NEAR(actual.y, expected.y, within);
  EXPECT_NEAR(actual.z, expected.z, within);
}

Matrix4 translation(float x, float y, float z) {
  Matrix4 t;
  t.identity();
  t.m[12] = x;
  t.m[13] = y;
  t.m[14] = z;
  return t;
}

TEST(Matrix4Test, RotationAboutZTurnsXTowardY) {
  Matrix4 r;
  r.rotation(0, 0, 0);
  expectMatrix(r, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});

  r.rotation(0, 0, 0.5f);
  expectVec(r.transformDirection({1, 0, 0}), {std::cos(0.5f), std::sin(0.5f), 0});
  EXPECT_NEAR(r.m[4], -std::sin(0.5f), tolerance);
}

TEST(Matrix4Test, RotationTurnsAboutXThenYThenZ) {
  // Quarter turns make the order visible: X then Y then Z sends +Y round
  // to +Y and +X to -Z, whereas Z then Y then X sends them to -Y and +Z.
  const float quarter = std::numbers::pi_v<float> / 2;
  Matrix4 r;
  r.rotation(quarter, quarter, quarter);
  expectVec(r.transformDirection({0, 1, 0}), {0, 1, 0});
  expectVec(r.transformDirection({1, 0, 0}), {0, 0, -1});

  Matrix4 rx, ry, rz;
  rx.rotation(0.3f, 0, 0);
  ry.rotation(0, -1.1f, 0);
  rz.rotation(0, 0, 2.0f);
  Matrix4 combined;
  combined.rotation(0.3f, -1.1f, 2.0f);
  const Matrix4 expected = rz * ry * rx;
  expectMatrix(combined, {expected.m[0], expected.m[1], expected.m[2], expected.m[3], expected.m[4],
                          expected.m[5], expected.m[6], expected.m[7], expected.m[8], expected.m[9],
                          expected.m[10], expected.m[11], expected.m[12], expected.m[13],
                          expected.m[14], expected.m[15]});
}

TEST(Matrix4Test, PerspectiveAtNinetyDegrees) {
  Matrix4 p;
  p.perspective(90, 1.3333334f, 1.0f);
  expectMatrix(p, {0.75f, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, -1, 0, 0, -2, 0});

  // No far plane: depth -near maps to -1, far depths approach +1.
  auto ndcDepth = [&](float eyeZ) { return (p.m[10] * eyeZ + p.m[14]) / (p.m[11] * eyeZ); };
  EXPECT_NEAR(ndcDepth(-1.0f), -1.0f, tolerance);
  EXPECT_NEAR(ndcDepth(-1e6f), 1.0f, 1e-5f);
}

TEST(Matrix4Test, PerspectiveTreatsZeroAspectAsOne) {
  Matrix4 zero, one;
  zero.perspective(60, 0.0f, 2.0f);
  one.perspective(60, 1.0f, 2.0f);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(zero.m[i], one.m[i]);
  }
  EXPECT_NEAR(one.m[5], 1.0f / std::tan(std::numbers::pi_v<float> / 6), tolerance);
  EXPECT_EQ(one.m[14], -4.0f);
}

TEST(Matrix4Test, TransformDirectionIgnoresTranslation) {
  const Matrix4 t = translation(5, -7, 9);
  expectVec(t.transformDirection({1, 2, 3}), {1, 2, 3});
}

TEST(Matrix4Test, ProductAppliesRightOperandFirst) {
  Matrix4 turn;
  turn.rotation(0, 0, std::numbers::pi_v<float> / 2);
  const Matrix4 shift = translation(1, 0, 0);

  // turn * shift: shift first, so the origin goes to (1,0,0) then turns to (0,1,0).
  expectVec(transformPoint(turn * shift, {0, 0, 0}), {0, 1, 0});
  expectVec(transformPoint(shift * turn, {0, 0, 0}), {1, 0, 0});

  Matrix4 identity;
  identity.identity();
  const Matrix4 left = identity * turn;
  const Matrix4 right = turn * identity;
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(left.m[i], turn.m[i]);
    EXPECT_EQ(right.m[i], turn.m[i]);
  }

  Matrix4 accumulated = turn;
  const Matrix4 returned = (accumulated *= shift);
  const Matrix4 product = turn * shift;
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(accumulated.m[i], product.m[i]);
    EXPECT_EQ(returned.m[i], product.m[i]);
  }
}

TEST(LookAtTest, CameraOnTheXAxis) {
  Matrix4 camera;
  camera.lookAt({3, 0, 0}, {0, 0, 0}, 0);
  expectMatrix(camera, {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, -3, 1});
  expectVec(transformPoint(camera, {0, 0, 0}), {0, 0, -3});
}

TEST(LookAtTest, RollTurnsAboutTheViewAxis) {
  Matrix4 camera;
  camera.lookAt({3, 0, 0}, {0, 0, 0}, std::numbers::pi_v<float> / 2);
  expectMatrix(camera, {0, 0, -1, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -3, 1});
}

TEST(LookAtTest, OriginLandsAtTheDistanceOnNegativeZ) {
  Matrix4 camera;
  camera.lookAt({3, 300, 0}, {0, 0, 0}, 0.7f);
  const Vec3 origin = transformPoint(camera, {0, 0, 0});
  expectVec(origin, {0, 0, -300.015f}, 1e-3f);
  EXPECT_NEAR(-origin.z, std::sqrt(9.0f + 90000.0f), 1e-3f);

  // The camera stands at -position: that point lands at the eye.
  expectVec(transformPoint(camera, {-3, -300, 0}), {0, 0, 0}, 1e-3f);
}

TEST(LookAtTest, RowsAreOrthonormal) {
  Matrix4 camera;
  camera.lookAt({100 * std::sin(2.0f), 10, 100 * std::cos(1.0f)}, {0, 0, 0}, 1.3f);
  for (int a = 0; a < 3; ++a) {
    const Vec3 rowA{camera.m[a], camera.m[4 + a], camera.m[8 + a]};
    EXPECT_NEAR(dot(rowA, rowA), 1.0f, tolerance);
    for (int b = a + 1; b < 3; ++b) {
      const Vec3 rowB{camera.m[b], camera.m[4 + b], camera.m[8 + b]};
      EXPECT_NEAR(dot(rowA, rowB), 0.0f, tolerance);
    }
  }
}

} // namespace
