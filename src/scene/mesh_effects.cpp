// The two per-frame mesh effects. They run over every corner or vertex each
// frame, so the loops are kept plain for the compiler to vectorise (this file
// is built without errno for sqrt), and arrays are only resized when their
// count changes: a steady frame allocates nothing.

#include <GL/gl.h>
#include <algorithm>
#include <cmath>
#include <limits>

#include "assets/mesh.h"
#include "scene/math.h"

void Mesh::updateEnvTexCoords() {
  Matrix4 modelview;
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview.m);
  updateEnvTexCoords(modelview);
}

void Mesh::updateEnvTexCoords(const Matrix4& modelview) {
  constexpr float smallestLengthSquared = std::numeric_limits<float>::min();
  const size_t count = drawPositions.size();
  if (drawTexCoords.size() != count) {
    drawTexCoords.resize(count, Vec2{0.0f, 0.0f});
  }
  const Vec3* normal = drawNormals.data();
  Vec2* texCoord = drawTexCoords.data();
  const size_t normalCount = std::min(count, drawNormals.size());
  for (size_t i = 0; i < normalCount; ++i) {
    const Vec3 v = modelview.transformDirection(normal[i]);
    const float lengthSquared = v.x * v.x + v.y * v.y + v.z * v.z;
    // A normal turned into nothing has no direction. The smallest normal
    // float added to its squared length keeps the scale finite, so it stays
    // zero and maps to the centre; any other length is too large for the
    // addition to change it. No branch, so the loop vectorises.
    const float scale = 1.0f / std::sqrt(lengthSquared + smallestLengthSquared);
    texCoord[i] = Vec2{(v.x * scale + 1.0f) * 0.5f, (v.y * scale + 1.0f) * 0.5f};
  }
}

void Mesh::applyRadialColor(float centre, float sharpness) {
  if (radial.empty()) {
    computeRadial();
  }
  if (colors.size() != positions.size()) {
    colors.resize(positions.size());
  }
  const float* value = radial.data();
  Color4* color = colors.data();
  const size_t count = std::min(radial.size(), colors.size());
  for (size_t i = 0; i < count; ++i) {
    const float c = 1.0f - std::fabs(sharpness * (value[i] - centre));
    color[i] = Color4{c, c, c, c};
  }
  buildDrawColors();
}
