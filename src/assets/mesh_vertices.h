#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "assets/mesh.h"

// The mesh's per-corner draw arrays as a smaller set of shared vertices and an
// index per corner, interleaved into one array: what a backend that draws from
// GL buffer objects uploads. Corners with the same position, normal and
// texture-coordinate indices hold the same values in every per-corner array
// (each builder copies through one of those indices, the environment effect
// writes a corner from its normal slot and the colour effect from its
// vertex), so they can be one vertex.

// 16-bit indices reach this many vertices (all WebGL 1 offers without
// extensions).
constexpr size_t kMaxIndexedVertices = 65536;

struct SharedVertices {
  std::vector<uint32_t> cornerOf; // each vertex's first corner, in the order corners use them
  // Each corner's vertex. Empty when the mesh needs more than
  // kMaxIndexedVertices vertices, or its faces do not match its corner
  // arrays: then the vertices are the corners themselves.
  std::vector<uint16_t> indices;
};
SharedVertices shareCorners(const Mesh& mesh);

// Which per-corner arrays take part in a draw (those with as many entries as
// Mesh::drawPositions, as in Mesh::draw) and where each lies in an
// interleaved vertex, in floats; -1 when absent. Positions come first.
struct InterleavedLayout {
  size_t stride = 3;
  int texCoords = -1;
  int normals = -1;
  int colors = -1;
};
InterleavedLayout interleavedLayout(const Mesh& mesh);

// Writes vertex k of `shared` (the values of its first corner) to
// vertices[k * layout.stride ...], resizing vertices when its size differs.
void interleave(const Mesh& mesh, const SharedVertices& shared, const InterleavedLayout& layout,
                std::vector<float>& vertices);
