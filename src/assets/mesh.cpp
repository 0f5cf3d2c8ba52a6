#include "assets/mesh.h"

#include <algorithm>

namespace {

// Writes value(face.<index>[corner]) to entry 3k + corner of target, keeping
// the target's storage when it already has the right size.
template <typename Element, typename Value>
void buildCorners(std::vector<Element>& target, const std::vector<Face>& faces,
                  const int32_t (Face::*indices)[3], Value value) {
  if (target.size() != 3 * faces.size()) {
    target.resize(3 * faces.size());
  }
  Element* out = target.data();
  for (const Face& face : faces) {
    for (int corner = 0; corner < 3; ++corner) {
      *out++ = value((face.*indices)[corner]);
    }
  }
}

// Copies source[face.<index>[corner]] to entry 3k + corner of target. The
// loader has checked every index against its array.
template <typename Element>
void buildCorners(std::vector<Element>& target, const std::vector<Element>& source,
                  const std::vector<Face>& faces, const int32_t (Face::*indices)[3]) {
  buildCorners(target, faces, indices, [&source](int32_t index) { return source[index]; });
}

} // namespace

void Mesh::computeNormals() {
  std::fill(normals.begin(), normals.end(), Vec3{0.0f, 0.0f, 0.0f});

  for (Face& face : faces) {
    const Vec3& v0 = positions[face.vertexIndex[0]];
    const Vec3 edge1 = positions[face.vertexIndex[1]] - v0;
    const Vec3 edge2 = positions[face.vertexIndex[2]] - v0;
    const Vec3 n = cross(edge1, edge2);
    // A triangle without area has no direction: it adds nothing to its
    // corners rather than spreading NaN through the shared slots.
    if (!(dot(n, n) > 0.0f)) {
      face.normal = {0.0f, 0.0f, 0.0f};
      continue;
    }
    face.normal = normalize(n);
    for (int corner = 0; corner < 3; ++corner) {
      normals[face.normalIndex[corner]] += face.normal;
    }
  }

  // Slots no face reaches (or only flat faces reach) stay zero.
  for (Vec3& normal : normals) {
    if (dot(normal, normal) > 0.0f) {
      normal = normalize(normal);
    }
  }
}

void Mesh::computeRadial() {
  if (positions.empty()) {
    return;
  }
  radial.resize(positions.size(), 0.0f);
  float nearest = 0.0f;
  float farthest = 0.0f;
  for (size_t i = 0; i < positions.size(); ++i) {
    const float distance =
        std::sqrt(positions[i].x * positions[i].x + positions[i].z * positions[i].z);
    radial[i] = distance;
    if (i == 0 || distance < nearest) {
      nearest = distance;
    }
    if (i == 0 || distance > farthest) {
      farthest = distance;
    }
  }
  // All positions at one distance leave no range to rescale by: all 0.
  const float scale = 1.0f / (farthest - nearest);
  if (!(farthest > nearest) || !std::isfinite(scale)) {
    std::fill(radial.begin(), radial.end(), 0.0f);
  } else {
    for (float& value : radial) {
      value = (value - nearest) * scale;
    }
  }
  buildCorners(cornerRadial, radial, faces, &Face::vertexIndex);
}

void Mesh::buildDrawArrays() {
  buildDrawPositions();
  buildDrawNormals();
  buildDrawTexCoords();
  buildDrawColors();
}

void Mesh::buildDrawPositions() {
  buildCorners(drawPositions, positions, faces, &Face::vertexIndex);
}

void Mesh::buildDrawNormals() {
  if (!normals.empty()) {
    buildCorners(drawNormals, normals, faces, &Face::normalIndex);
    buildCorners(cornerNormalIndices, faces, &Face::normalIndex,
                 [](int32_t index) { return index; });
    normalXs.resize(normals.size());
    normalYs.resize(normals.size());
    normalZs.resize(normals.size());
    for (size_t i = 0; i < normals.size(); ++i) {
      normalXs[i] = normals[i].x;
      normalYs[i] = normals[i].y;
      normalZs[i] = normals[i].z;
    }
  }
}

void Mesh::buildDrawTexCoords() {
  if (!texCoords.empty()) {
    buildCorners(drawTexCoords, texCoords, faces, &Face::texCoordIndex);
  }
}

void Mesh::buildDrawColors() {
  // Colours are per vertex, so they follow the vertex indices. They are only
  // usable once there is one per position.
  if (!colors.empty() && colors.size() == positions.size()) {
    buildCorners(drawColors, colors, faces, &Face::vertexIndex);
  }
}
