// The two per-frame mesh effects. They run over the whole mesh every frame,
// so they read the mesh's arrays kept for them (per-corner copies, the normal
// slots by component) in sequence rather than walking the faces, with loops
// kept plain for the compiler to vectorise (this file is built without errno
// for sqrt). Arrays are only resized when their count changes: a steady frame
// allocates nothing.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "scene/mesh_effects.h"

namespace {

// Two corners' coordinates, 16 bytes, for one store. Copying to the corners
// is bound by its memory accesses, so it takes two corners at a time: one
// load for both slot indices, one store for both coordinates.
typedef uint64_t TexCoordPair __attribute__((vector_size(16)));
static_assert(sizeof(Vec2) == sizeof(uint64_t) && sizeof(TexCoordPair) == 2 * sizeof(Vec2));

uint64_t slotTexCoord(const Vec2* slotTexCoords, uint32_t slot) {
  uint64_t texCoord;
  std::memcpy(&texCoord, &slotTexCoords[slot], sizeof texCoord);
  return texCoord;
}

// Entry i of texCoords is slotTexCoords[slots[i]], for the first `count` corners.
void copyToCorners(const Vec2* slotTexCoords, const int32_t* slots, Vec2* texCoords, size_t count) {
  static_assert(std::endian::native == std::endian::little); // corner i's slot: the low half
  size_t i = 0;
  for (; i + 2 <= count; i += 2) {
    uint64_t twoSlots;
    std::memcpy(&twoSlots, &slots[i], sizeof twoSlots);
    const TexCoordPair pair = {slotTexCoord(slotTexCoords, uint32_t(twoSlots)),
                               slotTexCoord(slotTexCoords, uint32_t(twoSlots >> 32))};
    std::memcpy(&texCoords[i], &pair, sizeof pair);
  }
  if (i < count) {
    texCoords[i] = slotTexCoords[slots[i]];
  }
}

} // namespace

void updateEnvTexCoords(Mesh& mesh, const Matrix4& modelview) {
  const size_t count = mesh.drawPositions.size();
  if (mesh.drawTexCoords.size() != count) {
    mesh.drawTexCoords.resize(count, Vec2{0.0f, 0.0f});
  }

  // A corner's coordinate depends on its normal alone, so each normal slot is
  // turned once and its corners take the result.
  const size_t slotCount = mesh.normalXs.size();
  if (mesh.normalTexCoords.size() != slotCount) {
    mesh.normalTexCoords.resize(slotCount);
  }
  // A normal turned into nothing has no direction. The smallest normal float
  // added to its squared length keeps the scale finite, so it stays zero and
  // maps to the centre; any other length is too large for the addition to
  // change it. No branch, so the loop vectorises.
  constexpr float kSmallestLengthSquared = std::numeric_limits<float>::min();
  const float* m = modelview.m;
  const float* xs = mesh.normalXs.data();
  const float* ys = mesh.normalYs.data();
  const float* zs = mesh.normalZs.data();
  Vec2* slotTexCoords = mesh.normalTexCoords.data();
  for (size_t i = 0; i < slotCount; ++i) {
    // The upper-left 3x3 of the matrix: Matrix4::transformDirection.
    const float x = m[0] * xs[i] + m[4] * ys[i] + m[8] * zs[i];
    const float y = m[1] * xs[i] + m[5] * ys[i] + m[9] * zs[i];
    const float z = m[2] * xs[i] + m[6] * ys[i] + m[10] * zs[i];
    const float scale = 1.0f / std::sqrt(x * x + y * y + z * z + kSmallestLengthSquared);
    slotTexCoords[i] = Vec2{(x * scale + 1.0f) * 0.5f, (y * scale + 1.0f) * 0.5f};
  }

  copyToCorners(slotTexCoords, mesh.cornerNormalIndices.data(), mesh.drawTexCoords.data(),
                std::min(count, mesh.cornerNormalIndices.size()));
}

void applyRadialColor(Mesh& mesh, float centre, float sharpness) {
  if (mesh.radial.empty()) {
    mesh.computeRadial();
  }
  const auto grey = [centre, sharpness](float radial) {
    return 1.0f - std::fabs(sharpness * (radial - centre));
  };
  if (mesh.colors.size() != mesh.positions.size()) {
    mesh.colors.resize(mesh.positions.size());
  }
  const float* value = mesh.radial.data();
  Color4* color = mesh.colors.data();
  const size_t count = std::min(mesh.radial.size(), mesh.colors.size());
  for (size_t i = 0; i < count; ++i) {
    const float c = grey(value[i]);
    color[i] = Color4{c, c, c, c};
  }
  // The corners take their vertex's colour, worked out again from their own
  // copy of its radial value: reading that in sequence costs less than
  // fetching the vertex's colour through an index, and gives the same value.
  if (mesh.drawColors.size() != mesh.cornerRadial.size()) {
    mesh.drawColors.resize(mesh.cornerRadial.size());
  }
  const float* cornerValue = mesh.cornerRadial.data();
  Color4* cornerColor = mesh.drawColors.data();
  for (size_t i = 0; i < mesh.cornerRadial.size(); ++i) {
    const float c = grey(cornerValue[i]);
    cornerColor[i] = Color4{c, c, c, c};
  }
}
