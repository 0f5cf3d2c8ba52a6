// Reading MESH0 files. Little-endian throughout, no padding:
//   "MESH0"  magic (only the first four bytes are checked)
//   u32 P, P positions of three floats
//   u32 N, N normals of three floats (only their number is used)
//   u32 T, T texture coordinates of two floats
//   u32 F, F faces of nine i32: vertex, normal and texture-coordinate
//          indices of corners 0, 1, 2
// Bytes after the last face are ignored.

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "archive/regular_file.h"
#include "assets/mesh_loader.h"
#include "fixed_texts.h"

// Records are read straight into the arrays, which needs the file's layout.
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(Vec3) == 12 && sizeof(Vec2) == 8);

bool faceIndicesInRange(const Face& face, size_t positionCount, size_t normalCount,
                        size_t texCoordCount) {
  auto inRange = [](int32_t index, size_t count) {
    return index >= 0 && static_cast<size_t>(index) < count;
  };
  for (int corner = 0; corner < 3; ++corner) {
    if (!inRange(face.vertexIndex[corner], positionCount) ||
        !inRange(face.normalIndex[corner], normalCount)) {
      return false;
    }
    if (texCoordCount != 0 && !inRange(face.texCoordIndex[corner], texCoordCount)) {
      return false;
    }
  }
  return true;
}

namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

// Reads a MESH0 file front to back. Every request is checked against the
// bytes the file has left before anything is allocated for it, so a count
// that does not fit the file is rejected rather than trusted.
class MeshFileReader {
public:
  explicit MeshFileReader(FILE* file) : file(file), remaining(fileLength(file)) {}

  void readBytes(void* destination, uint64_t size) {
    if (size > remaining || std::fread(destination, 1, size, file) != size) {
      throw std::string(kCorruptFileText);
    }
    remaining -= size;
  }

  // A section count whose records must all fit in the rest of the file.
  uint32_t readCount(uint64_t recordSize) {
    uint8_t bytes[4];
    readBytes(bytes, sizeof bytes);
    const uint32_t count = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24;
    if (count * recordSize > remaining) {
      throw std::string(kCorruptFileText);
    }
    return count;
  }

  template <typename Record> void readSection(std::vector<Record>& records) {
    records.resize(readCount(sizeof(Record)));
    readBytes(records.data(), records.size() * sizeof(Record));
  }

private:
  static uint64_t fileLength(FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
      throw std::string(kCorruptFileText);
    }
    const long length = std::ftell(file);
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
      throw std::string(kCorruptFileText);
    }
    return static_cast<uint64_t>(length);
  }

  FILE* file;
  uint64_t remaining;
};

void readMagic(MeshFileReader& reader) {
  char magic[5];
  reader.readBytes(magic, sizeof magic);
  if (std::memcmp(magic, "MESH", 4) != 0) {
    throw std::string(kCorruptFileText);
  }
}

constexpr size_t kFaceRecordInts = 9;
constexpr size_t kFacesPerChunk = 1024;

// Face records are read a chunk at a time into a small reused buffer, then
// spread into the faces and checked against the arrays read before them.
void readFaces(MeshFileReader& reader, Mesh& mesh) {
  mesh.faces.resize(reader.readCount(kFaceRecordInts * 4));
  std::vector<int32_t> chunk(kFacesPerChunk * kFaceRecordInts);
  for (size_t first = 0; first < mesh.faces.size(); first += kFacesPerChunk) {
    const size_t count = std::min(kFacesPerChunk, mesh.faces.size() - first);
    reader.readBytes(chunk.data(), count * kFaceRecordInts * 4);
    const int32_t* record = chunk.data();
    for (Face& face : std::span(mesh.faces).subspan(first, count)) {
      std::memcpy(face.vertexIndex, record, 12);
      std::memcpy(face.normalIndex, record + 3, 12);
      std::memcpy(face.texCoordIndex, record + 6, 12);
      face.normal = {0.0f, 0.0f, 0.0f};
      if (!faceIndicesInRange(face, mesh.positions.size(), mesh.normals.size(),
                              mesh.texCoords.size())) {
        throw std::string(kCorruptFileText);
      }
      record += kFaceRecordInts;
    }
  }
}

} // namespace

std::unique_ptr<Mesh> loadMesh(std::string name) {
  auto mesh = std::make_unique<Mesh>();
  FileHandle file(openRegularFile(name.c_str()));
  if (!file) {
    throw std::string(kFileNotFoundText);
  }
  MeshFileReader reader(file.get());
  readMagic(reader);
  reader.readSection(mesh->positions);
  reader.readSection(mesh->normals);
  reader.readSection(mesh->texCoords);
  readFaces(reader, *mesh);
  file.reset();

  mesh->computeNormals();
  mesh->buildDrawArrays();
  return mesh;
}
