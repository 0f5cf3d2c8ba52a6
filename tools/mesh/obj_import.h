#pragma once

#include <string>

#include "mesh/mesh_writer.h"

// Reads a Wavefront OBJ file into MeshData: positions, normals and texture
// coordinates as the file gives them, polygons triangulated as fans. The OBJ's
// normal indices become the smoothing topology; corners without a normal get
// one extra slot per position, so they are smoothed across shared vertices.
// Corners without a texture coordinate use coordinate 0 when others have one.
// Returns false with a message in `error` when the file cannot be read.
bool importObjFile(const std::string& path, MeshData& mesh, std::string& error);
