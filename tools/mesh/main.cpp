// viriz-mesh: converts Wavefront OBJ files to the demo's MESH0 format and
// checks MESH0 files the way the demo loads them.
//
//   viriz-mesh convert IN.obj OUT.mesh
//   viriz-mesh info FILE.mesh

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "mesh/mesh_writer.h"
#include "mesh/obj_import.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: viriz-mesh convert IN.obj OUT.mesh\n"
                       "       viriz-mesh info FILE.mesh\n");
  return 2;
}

int convert(const char* inPath, const char* outPath) {
  MeshData mesh;
  std::string error;
  if (!importObjFile(inPath, mesh, error)) {
    std::fprintf(stderr, "viriz-mesh: %s\n", error.c_str());
    return 1;
  }
  if (!writeMeshFile(outPath, mesh)) {
    std::fprintf(stderr, "viriz-mesh: cannot write %s\n", outPath);
    return 1;
  }
  std::printf("%s: %zu positions, %zu normals, %zu texcoords, %zu faces\n", outPath,
              mesh.positions.size(), mesh.normals.size(), mesh.texCoords.size(), mesh.faces.size());
  return 0;
}

int info(const char* path) {
  const Mesh* mesh = nullptr;
  try {
    mesh = meshCache.get(path);
  } catch (const std::string& error) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("positions %zu\nnormals %zu\ntexcoords %zu\nfaces %zu\n", mesh->positions.size(),
              mesh->normals.size(), mesh->texCoords.size(), mesh->faces.size());
  if (mesh->positions.empty()) {
    std::printf("bounds none\n");
    return 0;
  }
  Vec3 low = mesh->positions[0];
  Vec3 high = low;
  for (const Vec3& p : mesh->positions) {
    low = Vec3{std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    high = Vec3{std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
  }
  std::printf("bounds min %g %g %g max %g %g %g\n", low.x, low.y, low.z, high.x, high.y, high.z);
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "convert") == 0) {
    return convert(argv[2], argv[3]);
  }
  if (argc == 3 && std::strcmp(argv[1], "info") == 0) {
    return info(argv[2]);
  }
  return usage();
}
