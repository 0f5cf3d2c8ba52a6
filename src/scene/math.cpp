#include "scene/math.h"

#include <cmath>

Matrix4& Matrix4::identity() {
  for (int i = 0; i < 16; ++i) {
    m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
  }
  return *this;
}

void Matrix4::rotation(float x, float y, float z) {
  const float cx = std::cos(x), sx = std::sin(x);
  const float cy = std::cos(y), sy = std::sin(y);
  const float cz = std::cos(z), sz = std::sin(z);

  m[0] = cy * cz;
  m[1] = cy * sz;
  m[2] = -sy;
  m[3] = 0.0f;

  m[4] = sx * sy * cz - cx * sz;
  m[5] = sx * sy * sz + cx * cz;
  m[6] = sx * cy;
  m[7] = 0.0f;

  m[8] = cx * sy * cz + sx * sz;
  m[9] = cx * sy * sz - sx * cz;
  m[10] = cx * cy;
  m[11] = 0.0f;

  m[12] = 0.0f;
  m[13] = 0.0f;
  m[14] = 0.0f;
  m[15] = 1.0f;
}

void Matrix4::perspective(float fovDegrees, float aspect, float nearDistance) {
  // pi / 360 from the single-precision pi: the tangent of half the field of view.
  const float f = 1.0f / std::tan(fovDegrees * 0.0087266465f);
  if (aspect == 0.0f) {
    aspect = 1.0f;
  }
  for (float& element : m) {
    element = 0.0f;
  }
  m[0] = f / aspect;
  m[5] = f;
  m[10] = -1.0f;
  m[11] = -1.0f;
  m[14] = -2.0f * nearDistance;
}

Matrix4 Matrix4::operator*(Matrix4 other) const {
  Matrix4 product;
  for (int column = 0; column < 4; ++column) {
    for (int row = 0; row < 4; ++row) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) {
        sum += m[4 * k + row] * other.m[4 * column + k];
      }
      product.m[4 * column + row] = sum;
    }
  }
  return product;
}

Matrix4 Matrix4::operator*=(Matrix4 other) {
  *this = *this * other;
  return *this;
}

// The rows are s, u, +f and the translation is by +position, so a point p
// lands at (s, u, f) . (p + position): the view of a camera standing at
// -position looking toward -target. The roll then turns it about the view axis.
void Matrix4::lookAt(Vec3 position, Vec3 target, float roll) {
  const Vec3 forward = normalize(target - position);
  const Vec3 side0 = cross(Vec3{0.0f, 1.0f, 0.0f}, forward);
  const Vec3 up = normalize(cross(forward, side0));
  const Vec3 side = normalize(cross(up, forward));

  m[0] = side.x;
  m[4] = side.y;
  m[8] = side.z;
  m[1] = up.x;
  m[5] = up.y;
  m[9] = up.z;
  m[2] = forward.x;
  m[6] = forward.y;
  m[10] = forward.z;
  m[3] = m[7] = m[11] = 0.0f;
  m[12] = m[13] = m[14] = 0.0f;
  m[15] = 1.0f;

  Matrix4 translation;
  translation.identity();
  translation.m[12] = position.x;
  translation.m[13] = position.y;
  translation.m[14] = position.z;
  *this *= translation;

  Matrix4 rollRotation;
  rollRotation.rotation(0.0f, 0.0f, roll);
  *this = rollRotation * *this;
}
