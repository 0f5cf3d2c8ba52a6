#include "mesh/mesh_writer.h"

#include "assets/mesh_loader.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// Little-endian fields written into a buffer sized for the whole file.
class FileBytes {
public:
  explicit FileBytes(size_t size) : bytes(size) {}

  void put(const void* data, size_t size) {
    std::memcpy(bytes.data() + used, data, size);
    used += size;
  }
  void putU32(uint32_t value) {
    const uint8_t field[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                              uint8_t(value >> 24)};
    put(field, 4);
  }
  void putI32(int32_t value) { putU32(uint32_t(value)); }
  void putF32(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    putU32(bits);
  }

  std::vector<uint8_t> bytes;
  size_t used = 0;
};

} // namespace

std::string findMeshDataProblem(const MeshData& mesh) {
  constexpr size_t kCountLimit = std::numeric_limits<uint32_t>::max();
  if (mesh.positions.size() > kCountLimit || mesh.normals.size() > kCountLimit ||
      mesh.texCoords.size() > kCountLimit || mesh.faces.size() > kCountLimit) {
    return "too many elements for 32-bit counts";
  }
  for (size_t i = 0; i < mesh.faces.size(); ++i) {
    if (!faceIndicesInRange(mesh.faces[i], mesh.positions.size(), mesh.normals.size(),
                            mesh.texCoords.size())) {
      return "face " + std::to_string(i) + " has an index outside its array";
    }
  }
  return {};
}

std::vector<uint8_t> encodeMeshFile(const MeshData& mesh) {
  FileBytes out(21 + 12 * mesh.positions.size() + 12 * mesh.normals.size() +
                8 * mesh.texCoords.size() + 36 * mesh.faces.size());
  out.put("MESH0", 5);
  for (const auto* section : {&mesh.positions, &mesh.normals}) {
    out.putU32(uint32_t(section->size()));
    for (const Vec3& v : *section) {
      out.putF32(v.x);
      out.putF32(v.y);
      out.putF32(v.z);
    }
  }
  out.putU32(uint32_t(mesh.texCoords.size()));
  for (const Vec2& t : mesh.texCoords) {
    out.putF32(t.u);
    out.putF32(t.v);
  }
  out.putU32(uint32_t(mesh.faces.size()));
  for (const Face& face : mesh.faces) {
    for (const int32_t(*indices)[3] : {&face.vertexIndex, &face.normalIndex, &face.texCoordIndex}) {
      for (int32_t index : *indices) {
        out.putI32(index);
      }
    }
  }
  return std::move(out.bytes);
}

bool writeMeshFile(const char* path, const MeshData& mesh) {
  if (!findMeshDataProblem(mesh).empty()) {
    return false;
  }
  const std::vector<uint8_t> bytes = encodeMeshFile(mesh);
  FILE* file = std::fopen(path, "wb");
  if (!file) {
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::remove(path);
    return false;
  }
  return true;
}
