#pragma once

// Vec3 and its arithmetic come with the mesh, whose arrays are made of them.
#include "assets/vectors.h"

// A 4x4 float matrix laid out as OpenGL loads it: column-major, the element of
// row r and column c is m[4c + r], the translation is m[12], m[13], m[14].
// It has no initialisation of its own: call identity() or a builder first.
struct Matrix4 {
  float m[16];

  Matrix4& identity();
  // Rz(z) * Ry(y) * Rx(x): turns about X first, then Y, then Z.
  void rotation(float x, float y, float z);
  // The OpenGL perspective projection with the far plane at infinity.
  // fovDegrees is the vertical field of view; aspect 0 counts as 1.
  void perspective(float fovDegrees, float aspect, float nearDistance);
  // A camera at -position looking toward -target with world up +Y, rolled
  // about the view axis.
  void lookAt(Vec3 position, Vec3 target, float roll);

  // The upper-left 3x3 block times v: no translation. Inline, as the per-
  // corner loops of the mesh effects call it.
  Vec3 transformDirection(Vec3 v) const {
    return {m[0] * v.x + m[4] * v.y + m[8] * v.z, m[1] * v.x + m[5] * v.y + m[9] * v.z,
            m[2] * v.x + m[6] * v.y + m[10] * v.z};
  }

  // this * other: applied to a vector, other acts first.
  Matrix4 operator*(Matrix4 other) const;
  Matrix4 operator*=(Matrix4 other);
};
