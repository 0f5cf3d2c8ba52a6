#pragma once

#include <cmath>

// The element types of the mesh's arrays, plain values laid out as the MESH0
// file and the GL vertex arrays store them, and the vector arithmetic the
// mesh's normals and the scene math share.

struct Vec2 {
  float u;
  float v;
};

// Three floats x, y, z: positions, directions and normals.
struct Vec3 {
  float x;
  float y;
  float z;
};

struct Color4 {
  float r;
  float g;
  float b;
  float a;
};

// The helpers take references: in per-face loops, by-value copies of the
// 12-byte struct were spilled through the stack.
inline Vec3 operator+(const Vec3& a, const Vec3& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(const Vec3& a, const Vec3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(const Vec3& v, float k) {
  return {v.x * k, v.y * k, v.z * k};
}
inline Vec3& operator+=(Vec3& a, const Vec3& b) {
  return a = a + b;
}

inline float dot(const Vec3& a, const Vec3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Scales by the reciprocal of the length, computed first. A zero vector
// gives non-finite components; callers that may meet one check beforehand.
inline Vec3 normalize(const Vec3& v) {
  return v * (1.0f / std::sqrt(dot(v, v)));
}
