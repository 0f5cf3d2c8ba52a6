#include "assets/mesh_vertices.h"

#include <cstring>
#include <numeric>
#include <unordered_map>

namespace {

struct CornerKey {
  int32_t vertex;
  int32_t normal;
  int32_t texCoord;
  bool operator==(const CornerKey&) const = default;
};

struct CornerKeyHash {
  size_t operator()(const CornerKey& key) const {
    uint64_t h = uint32_t(key.vertex);
    h = h * 0x9E3779B97F4A7C15ull ^ uint32_t(key.normal);
    h = h * 0x9E3779B97F4A7C15ull ^ uint32_t(key.texCoord);
    return size_t(h ^ h >> 29);
  }
};

SharedVertices cornersAsVertices(size_t cornerCount) {
  SharedVertices shared;
  shared.cornerOf.resize(cornerCount);
  std::iota(shared.cornerOf.begin(), shared.cornerOf.end(), 0u);
  return shared;
}

void copyFloats(float* out, const void* entry, size_t count) {
  std::memcpy(out, entry, count * sizeof(float));
}

} // namespace

SharedVertices shareCorners(const Mesh& mesh) {
  const size_t cornerCount = mesh.drawPositions.size();
  if (cornerCount != 3 * mesh.faces.size()) {
    return cornersAsVertices(cornerCount);
  }
  SharedVertices shared;
  shared.indices.resize(cornerCount);
  std::unordered_map<CornerKey, uint16_t, CornerKeyHash> vertexOf;
  vertexOf.reserve(std::min(cornerCount, kMaxIndexedVertices));
  size_t corner = 0;
  for (const Face& face : mesh.faces) {
    for (int c = 0; c < 3; ++c, ++corner) {
      const CornerKey key{face.vertexIndex[c], face.normalIndex[c], face.texCoordIndex[c]};
      const auto [found, added] = vertexOf.try_emplace(key, uint16_t(shared.cornerOf.size()));
      if (added) {
        if (shared.cornerOf.size() == kMaxIndexedVertices) {
          return cornersAsVertices(cornerCount);
        }
        shared.cornerOf.push_back(uint32_t(corner));
      }
      shared.indices[corner] = found->second;
    }
  }
  return shared;
}

InterleavedLayout interleavedLayout(const Mesh& mesh) {
  const size_t cornerCount = mesh.drawPositions.size();
  InterleavedLayout layout;
  const auto take = [&layout](int& offset, size_t floats) {
    offset = int(layout.stride);
    layout.stride += floats;
  };
  if (mesh.drawTexCoords.size() == cornerCount) {
    take(layout.texCoords, 2);
  }
  if (mesh.drawNormals.size() == cornerCount) {
    take(layout.normals, 3);
  }
  if (mesh.drawColors.size() == cornerCount) {
    take(layout.colors, 4);
  }
  return layout;
}

void interleave(const Mesh& mesh, const SharedVertices& shared, const InterleavedLayout& layout,
                std::vector<float>& vertices) {
  const size_t size = shared.cornerOf.size() * layout.stride;
  if (vertices.size() != size) {
    vertices.resize(size);
  }
  float* out = vertices.data();
  for (const uint32_t corner : shared.cornerOf) {
    copyFloats(out, &mesh.drawPositions[corner], 3);
    if (layout.texCoords >= 0) {
      copyFloats(out + layout.texCoords, &mesh.drawTexCoords[corner], 2);
    }
    if (layout.normals >= 0) {
      copyFloats(out + layout.normals, &mesh.drawNormals[corner], 3);
    }
    if (layout.colors >= 0) {
      copyFloats(out + layout.colors, &mesh.drawColors[corner], 4);
    }
    out += layout.stride;
  }
}
