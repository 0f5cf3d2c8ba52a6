#include "mesh/obj_import.h"

#include <tiny_obj_loader.h>

namespace {

std::vector<Vec3> toVec3s(const std::vector<tinyobj::real_t>& values) {
  std::vector<Vec3> out(values.size() / 3);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = Vec3{values[3 * i], values[3 * i + 1], values[3 * i + 2]};
  }
  return out;
}

std::vector<Vec2> toVec2s(const std::vector<tinyobj::real_t>& values) {
  std::vector<Vec2> out(values.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = Vec2{values[2 * i], values[2 * i + 1]};
  }
  return out;
}

// Fills corner `corner` of `face` from one OBJ vertex reference.
void setCorner(Face& face, int corner, const tinyobj::index_t& index, const MeshData& mesh,
               int32_t objNormalCount, bool& needsPerPositionNormals) {
  face.vertexIndex[corner] = index.vertex_index;
  if (index.normal_index >= 0) {
    face.normalIndex[corner] = index.normal_index;
  } else {
    face.normalIndex[corner] = objNormalCount + index.vertex_index;
    needsPerPositionNormals = true;
  }
  face.texCoordIndex[corner] =
      (index.texcoord_index >= 0 && !mesh.texCoords.empty()) ? index.texcoord_index : 0;
}

} // namespace

bool importObjFile(const std::string& path, MeshData& mesh, std::string& error) {
  tinyobj::ObjReaderConfig config;
  config.triangulate = true;
  config.vertex_color = false;
  tinyobj::ObjReader reader;
  if (!reader.ParseFromFile(path, config)) {
    error = reader.Error().empty() ? "cannot read " + path : reader.Error();
    return false;
  }

  const tinyobj::attrib_t& attrib = reader.GetAttrib();
  mesh = MeshData{};
  mesh.positions = toVec3s(attrib.vertices);
  mesh.normals = toVec3s(attrib.normals);
  mesh.texCoords = toVec2s(attrib.texcoords);

  const auto objNormalCount = static_cast<int32_t>(mesh.normals.size());
  bool needsPerPositionNormals = false;
  for (const tinyobj::shape_t& shape : reader.GetShapes()) {
    size_t first = 0;
    for (const unsigned int cornerCount : shape.mesh.num_face_vertices) {
      // Triangulation leaves triangles; fan out anything larger all the same.
      for (size_t k = 1; k + 1 < cornerCount; ++k) {
        Face face{};
        setCorner(face, 0, shape.mesh.indices[first], mesh, objNormalCount,
                  needsPerPositionNormals);
        setCorner(face, 1, shape.mesh.indices[first + k], mesh, objNormalCount,
                  needsPerPositionNormals);
        setCorner(face, 2, shape.mesh.indices[first + k + 1], mesh, objNormalCount,
                  needsPerPositionNormals);
        mesh.faces.push_back(face);
      }
      first += cornerCount;
    }
  }
  if (needsPerPositionNormals) {
    mesh.normals.resize(mesh.normals.size() + mesh.positions.size(), Vec3{0.0f, 0.0f, 0.0f});
  }

  if (std::string problem = findMeshDataProblem(mesh); !problem.empty()) {
    error = path + ": " + problem;
    return false;
  }
  return true;
}
