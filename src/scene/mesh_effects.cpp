// The two per-frame mesh effects. They run over every corner or vertex each
// frame, so the loops are kept plain for the compiler to vectorise (this file
// is built without errno for sqrt), and arrays are only resized when their
// count changes: a steady frame allocates nothing.

#include <GL/gl.h>
#include <algorithm>
#include <cmath>
#include <limits>

#include "scene/mesh_effects.h"

void updateEnvTexCoords(Mesh& mesh) {
  Matrix4 modelview;
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview.m);
  updateEnvTexCoords(mesh, modelview);
}

namespace {

// Corners are handled in blocks whose normals are first split into separate
// x, y and z arrays: the arithmetic then runs on whole vectors of one
// component, where picking every third float out of the Vec3 array would
// cost more shuffling than the arithmetic itself.
constexpr size_t kCornersPerBlock = 64;

void envTexCoordsBlock(const Matrix4& modelview, const Vec3* normals, Vec2* texCoords,
                       size_t count) {
  // A normal turned into nothing has no direction. The smallest normal float
  // added to its squared length keeps the scale finite, so it stays zero and
  // maps to the centre; any other length is too large for the addition to
  // change it. No branch, so the loop vectorises.
  constexpr float kSmallestLengthSquared = std::numeric_limits<float>::min();
  const float* m = modelview.m;

  float xs[kCornersPerBlock], ys[kCornersPerBlock], zs[kCornersPerBlock];
  for (size_t i = 0; i < count; ++i) {
    xs[i] = normals[i].x;
    ys[i] = normals[i].y;
    zs[i] = normals[i].z;
  }
  float us[kCornersPerBlock], vs[kCornersPerBlock];
  for (size_t i = 0; i < count; ++i) {
    // The upper-left 3x3 of the matrix: Matrix4::transformDirection.
    const float x = m[0] * xs[i] + m[4] * ys[i] + m[8] * zs[i];
    const float y = m[1] * xs[i] + m[5] * ys[i] + m[9] * zs[i];
    const float z = m[2] * xs[i] + m[6] * ys[i] + m[10] * zs[i];
    const float scale = 1.0f / std::sqrt(x * x + y * y + z * z + kSmallestLengthSquared);
    us[i] = (x * scale + 1.0f) * 0.5f;
    vs[i] = (y * scale + 1.0f) * 0.5f;
  }
  for (size_t i = 0; i < count; ++i) {
    texCoords[i] = Vec2{us[i], vs[i]};
  }
}

} // namespace

void updateEnvTexCoords(Mesh& mesh, const Matrix4& modelview) {
  const size_t count = mesh.drawPositions.size();
  if (mesh.drawTexCoords.size() != count) {
    mesh.drawTexCoords.resize(count, Vec2{0.0f, 0.0f});
  }
  const size_t normalCount = std::min(count, mesh.drawNormals.size());
  for (size_t first = 0; first < normalCount; first += kCornersPerBlock) {
    envTexCoordsBlock(modelview, mesh.drawNormals.data() + first, mesh.drawTexCoords.data() + first,
                      std::min(kCornersPerBlock, normalCount - first));
  }
}

void applyRadialColor(Mesh& mesh, float centre, float sharpness) {
  if (mesh.radial.empty()) {
    mesh.computeRadial();
  }
  if (mesh.colors.size() != mesh.positions.size()) {
    mesh.colors.resize(mesh.positions.size());
  }
  const float* value = mesh.radial.data();
  Color4* color = mesh.colors.data();
  const size_t count = std::min(mesh.radial.size(), mesh.colors.size());
  for (size_t i = 0; i < count; ++i) {
    const float c = 1.0f - std::fabs(sharpness * (value[i] - centre));
    color[i] = Color4{c, c, c, c};
  }
  mesh.buildDrawColors();
}
