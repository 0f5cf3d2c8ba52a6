#pragma once

// Writing MESH0 files, the mesh format the demo loads (assets/mesh_loader.cpp).
//
// Fill a MeshData and call writeMeshFile:
//   positions  vertex positions;
//   normals    normal slots: only their number matters to the loader, which
//              recomputes every slot from the geometry as the normalised sum of
//              the unit normals of the faces whose corners share it, so corners
//              that share a normal index are smoothed together;
//   texCoords  texture coordinates, may be empty;
//   faces      triangles; each corner has a vertex, a normal and a texture-
//              coordinate index into the arrays above (Face::normal is not
//              written). Corners 0, 1, 2 counter-clockwise seen from outside
//              give outward normals.
// Every index must lie inside its array (texture-coordinate indices only when
// there are texture coordinates), which is what the loader demands too.

#include <cstdint>
#include <string>
#include <vector>

#include "assets/mesh.h"

struct MeshData {
  std::vector<Vec3> positions;
  std::vector<Vec3> normals;
  std::vector<Vec2> texCoords;
  std::vector<Face> faces;
};

// Empty when the mesh is valid, else a sentence saying what is wrong.
std::string findMeshDataProblem(const MeshData& mesh);

// The complete file contents: 21 + 12P + 12N + 8T + 36F bytes.
std::vector<uint8_t> encodeMeshFile(const MeshData& mesh);

// Writes the file. False when the mesh is invalid or the file cannot be
// written completely (nothing is left behind in that case).
bool writeMeshFile(const char* path, const MeshData& mesh);
