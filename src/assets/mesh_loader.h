#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "assets/mesh.h"

// Reads a MESH0 file into a new mesh with its normals recomputed and its
// per-corner arrays built. Throws a std::string: "File not found" when the
// file does not open as a regular file, "Corrupt file" when it is not a
// whole, consistent MESH0 file.
std::unique_ptr<Mesh> loadMesh(std::string name);

// True when every index of the face lies inside its array. Texture-coordinate
// indices are only checked when there are texture coordinates: a mesh without
// them never reads through those indices.
bool faceIndicesInRange(const Face& face, size_t positionCount, size_t normalCount,
                        size_t texCoordCount);
