#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "mesh/mesh_writer.h"
#include "test_files.h"

namespace {

Face face(std::array<int32_t, 3> vertices, std::array<int32_t, 3> normals,
          std::array<int32_t, 3> texCoords = {0, 0, 0}) {
  Face f{};
  for (int c = 0; c < 3; ++c) {
    f.vertexIndex[c] = vertices[c];
    f.normalIndex[c] = normals[c];
    f.texCoordIndex[c] = texCoords[c];
  }
  return f;
}

// Two triangles of very different size meeting along the Y axis at a right
// angle: a small one in the XY plane (normal +Z) and a big one in the YZ
// plane (normal +X). Normal slot 0 is shared by their corners at the origin.
MeshData foldedPair() {
  MeshData data;
  data.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -50}, {0, 50, 0}};
  data.normals = {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}};
  data.texCoords = {{0, 0}, {1, 0}, {0, 1}};
  data.faces = {face({0, 1, 2}, {0, 1, 1}, {0, 1, 2}), face({0, 3, 4}, {0, 2, 2}, {2, 1, 0})};
  return data;
}

class MeshLoadTest : public testing::Test {
protected:
  Mesh* load(const std::vector<uint8_t>& bytes) {
    mesh.reset(ResourceCache<Mesh>::load(dir.write("test.mesh", bytes)));
    return mesh.get();
  }

  // The loader's error text for these bytes, or "" when they load.
  std::string failureOf(const std::vector<uint8_t>& bytes) {
    try {
      load(bytes);
    } catch (const std::string& error) {
      return error;
    }
    return {};
  }

  TempDir dir;
  std::unique_ptr<Mesh> mesh;
};

void expectVec(Vec3 actual, Vec3 expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-6f);
  EXPECT_NEAR(actual.y, expected.y, 1e-6f);
  EXPECT_NEAR(actual.z, expected.z, 1e-6f);
}

TEST_F(MeshLoadTest, ReadsEverySectionInFileOrder) {
  MeshData data = foldedPair();
  Mesh* m = load(encodeMeshFile(data));
  ASSERT_EQ(m->positions.size(), 5u);
  expectVec(m->positions[3], {0, 0, -50});
  ASSERT_EQ(m->normals.size(), 3u);
  ASSERT_EQ(m->texCoords.size(), 3u);
  EXPECT_EQ(m->texCoords[2].v, 1.0f);
  ASSERT_EQ(m->faces.size(), 2u);
  EXPECT_EQ(m->faces[1].vertexIndex[1], 3);
  EXPECT_EQ(m->faces[1].normalIndex[2], 2);
  EXPECT_EQ(m->faces[1].texCoordIndex[0], 2);
  EXPECT_TRUE(m->colors.empty());
  EXPECT_TRUE(m->radial.empty());
  EXPECT_TRUE(m->drawColors.empty());
}

TEST_F(MeshLoadTest, NormalsComeFromTheGeometryAndSharedSlotsAverageFaces) {
  Mesh* m = load(encodeMeshFile(foldedPair()));
  expectVec(m->faces[0].normal, {0, 0, 1});
  expectVec(m->faces[1].normal, {1, 0, 0});
  // Slots used by one face only keep that face's unit normal; the file's
  // (9, 9, 9) values are gone.
  expectVec(m->normals[1], {0, 0, 1});
  expectVec(m->normals[2], {1, 0, 0});
  // The shared slot weighs both faces equally whatever their area.
  const float half = std::sqrt(0.5f);
  expectVec(m->normals[0], {half, 0, half});
}

TEST_F(MeshLoadTest, FlatTrianglesAndUnusedSlotsGiveZeroNotNaN) {
  MeshData data = foldedPair();
  data.positions.push_back({2, 0, 0}); // on the line through vertices 0 and 1
  data.normals.push_back({1, 1, 1});   // slot 3: used by nothing
  data.faces.push_back(face({0, 1, 5}, {0, 1, 1}));
  Mesh* m = load(encodeMeshFile(data));
  expectVec(m->faces[2].normal, {0, 0, 0});
  expectVec(m->normals[0], {std::sqrt(0.5f), 0, std::sqrt(0.5f)}); // unchanged by the flat face
  expectVec(m->normals[1], {0, 0, 1});
  expectVec(m->normals[3], {0, 0, 0});
}

TEST_F(MeshLoadTest, DrawArraysHoldOneEntryPerCorner) {
  Mesh* m = load(encodeMeshFile(foldedPair()));
  ASSERT_EQ(m->drawPositions.size(), 6u);
  ASSERT_EQ(m->drawNormals.size(), 6u);
  ASSERT_EQ(m->drawTexCoords.size(), 6u);
  // Corner 0 of both faces is vertex 0, but with its own texture coordinate.
  expectVec(m->drawPositions[0], {0, 0, 0});
  expectVec(m->drawPositions[3], {0, 0, 0});
  EXPECT_EQ(m->drawTexCoords[0].v, 0.0f);
  EXPECT_EQ(m->drawTexCoords[3].v, 1.0f);
  expectVec(m->drawPositions[5], {0, 50, 0});
  expectVec(m->drawNormals[4], {1, 0, 0});

  // Rebuilding keeps size and storage.
  const Vec3* positions = m->drawPositions.data();
  const Vec2* texCoords = m->drawTexCoords.data();
  m->buildDrawArrays();
  m->buildDrawArrays();
  EXPECT_EQ(m->drawPositions.size(), 6u);
  EXPECT_EQ(m->drawPositions.data(), positions);
  EXPECT_EQ(m->drawTexCoords.data(), texCoords);
}

TEST_F(MeshLoadTest, MeshWithoutTextureCoordinatesIgnoresTheirIndices) {
  MeshData data = foldedPair();
  data.texCoords.clear();
  data.faces[0].texCoordIndex[1] = 123456; // never read without coordinates
  std::vector<uint8_t> bytes = encodeMeshFile(data);
  Mesh* m = load(bytes);
  EXPECT_TRUE(m->texCoords.empty());
  EXPECT_TRUE(m->drawTexCoords.empty());
  EXPECT_EQ(m->drawPositions.size(), 6u);
}

TEST_F(MeshLoadTest, AcceptsAnyFifthMagicByteAndIgnoresTrailingBytes) {
  std::vector<uint8_t> bytes = encodeMeshFile(foldedPair());
  bytes[4] = '7';
  bytes.insert(bytes.end(), {1, 2, 3, 4, 5});
  EXPECT_EQ(failureOf(bytes), "");
  EXPECT_EQ(mesh->faces.size(), 2u);

  MeshData empty;
  EXPECT_EQ(failureOf(encodeMeshFile(empty)), "");
  EXPECT_TRUE(mesh->drawPositions.empty());
}

TEST_F(MeshLoadTest, RejectsMissingFilesAndWrongMagic) {
  try {
    ResourceCache<Mesh>::load(dir.path("absent.mesh"));
    FAIL();
  } catch (const std::string& error) {
    EXPECT_EQ(error, "File not found");
  }
  std::vector<uint8_t> bytes = encodeMeshFile(foldedPair());
  bytes[3] = 'h';
  EXPECT_EQ(failureOf(bytes), "Corrupt file");
}

TEST_F(MeshLoadTest, EveryTruncationIsCorrupt) {
  const std::vector<uint8_t> bytes = encodeMeshFile(foldedPair());
  for (size_t length = 0; length < bytes.size(); ++length) {
    const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(length));
    EXPECT_EQ(failureOf(prefix), "Corrupt file") << "length " << length;
  }
}

void putU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  std::memcpy(bytes.data() + offset, &value, 4);
}

TEST_F(MeshLoadTest, CountsBeyondTheFileAreCorrupt) {
  const MeshData data = foldedPair();
  const std::vector<uint8_t> valid = encodeMeshFile(data);
  const size_t normalsAt = 9 + 12 * 5, texCoordsAt = normalsAt + 4 + 12 * 3,
               facesAt = texCoordsAt + 4 + 8 * 3;
  for (size_t offset : {size_t(5), normalsAt, texCoordsAt, facesAt}) {
    for (uint32_t count : {0xFFFFFFFFu, 0x80000000u, 0x15555556u, 1000u}) {
      std::vector<uint8_t> bytes = valid;
      putU32(bytes, offset, count);
      EXPECT_EQ(failureOf(bytes), "Corrupt file") << "offset " << offset << " count " << count;
    }
  }
}

TEST_F(MeshLoadTest, IndicesOutsideTheirArraysAreCorrupt) {
  auto withFace = [](auto change) {
    MeshData data = foldedPair();
    change(data.faces[1]);
    return encodeMeshFile(data);
  };
  EXPECT_EQ(failureOf(withFace([](Face& f) { f.vertexIndex[2] = 5; })), "Corrupt file");
  EXPECT_EQ(failureOf(withFace([](Face& f) { f.vertexIndex[0] = -1; })), "Corrupt file");
  EXPECT_EQ(failureOf(withFace([](Face& f) { f.normalIndex[1] = 3; })), "Corrupt file");
  EXPECT_EQ(failureOf(withFace([](Face& f) { f.normalIndex[2] = INT32_MIN; })), "Corrupt file");
  EXPECT_EQ(failureOf(withFace([](Face& f) { f.texCoordIndex[1] = 3; })), "Corrupt file");
  EXPECT_EQ(failureOf(withFace([](Face& f) { f.texCoordIndex[0] = -2; })), "Corrupt file");
  EXPECT_EQ(failureOf(withFace([](Face& f) { f.vertexIndex[1] = 4; })), "");

  // Faces need normal slots to index.
  MeshData noNormals = foldedPair();
  noNormals.normals.clear();
  EXPECT_EQ(failureOf(encodeMeshFile(noNormals)), "Corrupt file");
}

} // namespace
