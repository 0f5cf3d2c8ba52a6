#include <gtest/gtest.h>

#include <cstring>

#include "assets/mesh_loader.h"
#include "mesh/mesh_writer.h"
#include "test_files.h"
#include "unwritten_fifo.h"

namespace {

// Two triangles meeting at a right angle along the Y axis: a small one in
// the XY plane (normal +Z) and a big one in the YZ plane (normal +X), whose
// corners at the origin share normal slot 0. The file's normals are junk.
MeshData foldedPair() {
  MeshData data;
  data.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -50}, {0, 50, 0}};
  data.normals = {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}};
  data.texCoords = {{0, 0}, {1, 0}, {0, 1}};
  data.faces = {Face{{0, 1, 2}, {0, 1, 1}, {0, 1, 2}, {}},
                Face{{0, 3, 4}, {0, 2, 2}, {2, 1, 0}, {}}};
  return data;
}

class MeshLoadTest : public testing::Test {
protected:
  std::string failureFor(const std::vector<uint8_t>& bytes) {
    return failureOf([&] { mesh = loadMesh(dir.write("m.mesh", bytes)); });
  }
  TempDir dir;
  std::unique_ptr<Mesh> mesh;
};

void expectVec(Vec3 actual, Vec3 expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-6f);
  EXPECT_NEAR(actual.y, expected.y, 1e-6f);
  EXPECT_NEAR(actual.z, expected.z, 1e-6f);
}

TEST_F(MeshLoadTest, NormalsComeFromTheGeometryAveragedOverSharedSlots) {
  MeshData data = foldedPair();
  data.positions.push_back({2, 0, 0}); // a flat triangle on the X axis
  data.normals.push_back({1, 1, 1});   // a slot no face uses
  data.faces.push_back(Face{{0, 1, 5}, {0, 1, 1}, {0, 0, 0}, {}});
  ASSERT_EQ(failureFor(encodeMeshFile(data)), "");
  expectVec(mesh->faces[0].normal, {0, 0, 1});
  expectVec(mesh->faces[1].normal, {1, 0, 0});
  expectVec(mesh->faces[2].normal, {0, 0, 0});
  expectVec(mesh->normals[1], {0, 0, 1}); // one face: its own normal
  expectVec(mesh->normals[2], {1, 0, 0});
  expectVec(mesh->normals[0], {std::sqrt(0.5f), 0, std::sqrt(0.5f)}); // equal weights
  expectVec(mesh->normals[3], {0, 0, 0});
}

TEST_F(MeshLoadTest, CornerArraysFollowEachIndexOnTheirOwn) {
  ASSERT_EQ(failureFor(encodeMeshFile(foldedPair())), "");
  ASSERT_EQ(mesh->drawPositions.size(), 6u);
  ASSERT_EQ(mesh->drawNormals.size(), 6u);
  ASSERT_EQ(mesh->drawTexCoords.size(), 6u);
  EXPECT_TRUE(mesh->drawColors.empty() && mesh->colors.empty() && mesh->radial.empty());
  // Corner 0 of both faces is vertex 0, each with its own texture coordinate.
  expectVec(mesh->drawPositions[3], {0, 0, 0});
  EXPECT_EQ(mesh->drawTexCoords[0].v, 0.0f);
  EXPECT_EQ(mesh->drawTexCoords[3].v, 1.0f);
  expectVec(mesh->drawPositions[5], {0, 50, 0});
  expectVec(mesh->drawNormals[4], {1, 0, 0});
  // What the per-frame effects read: each corner's normal slot, and the slots
  // by component.
  EXPECT_EQ(mesh->cornerNormalIndices, (std::vector<int32_t>{0, 1, 1, 0, 2, 2}));
  ASSERT_EQ(mesh->normalXs.size(), 3u);
  for (size_t slot = 0; slot < 3; ++slot) {
    expectVec({mesh->normalXs[slot], mesh->normalYs[slot], mesh->normalZs[slot]},
              mesh->normals[slot]);
  }
  mesh->computeRadial(); // distances 0, 1, 0, 50, 0 from the Y axis
  EXPECT_EQ(mesh->cornerRadial, (std::vector<float>{0, 0.02f, 0, 0, 1, 0}));

  const Vec3* storage = mesh->drawPositions.data();
  mesh->buildDrawArrays();
  EXPECT_EQ(mesh->drawPositions.size(), 6u);
  EXPECT_EQ(mesh->drawPositions.data(), storage);
}

TEST_F(MeshLoadTest, AcceptsWhatTheFormatAllows) {
  std::vector<uint8_t> bytes = encodeMeshFile(foldedPair());
  bytes[4] = '7';                       // the fifth magic byte is free
  bytes.insert(bytes.end(), {1, 2, 3}); // trailing bytes are ignored
  EXPECT_EQ(failureFor(bytes), "");

  MeshData bare = foldedPair();
  bare.texCoords.clear();
  bare.faces[0].texCoordIndex[1] = 123456; // never used without coordinates
  EXPECT_EQ(failureFor(encodeMeshFile(bare)), "");
  EXPECT_TRUE(mesh->drawTexCoords.empty());
  EXPECT_EQ(failureFor(encodeMeshFile(MeshData{})), "");
}

TEST_F(MeshLoadTest, RejectsDamagedFilesAsCorrupt) {
  EXPECT_EQ(failureOf([&] { loadMesh(dir.file("absent.mesh")); }), "File not found");
  const UnwrittenFifo fifo(dir / "fifo.mesh");
  EXPECT_EQ(failureOf([&] { loadMesh(dir.file("fifo.mesh")); }), "File not found");
  EXPECT_FALSE(fifo.waitedOn());
  const std::vector<uint8_t> valid = encodeMeshFile(foldedPair());
  std::vector<uint8_t> bytes = valid;
  bytes[3] = 'h';
  EXPECT_EQ(failureFor(bytes), "Corrupt file");

  for (size_t length = 0; length < valid.size(); ++length) {
    EXPECT_EQ(failureFor({valid.begin(), valid.begin() + long(length)}), "Corrupt file") << length;
  }
  // Each count in turn claims more records than the file holds.
  for (size_t offset : {5, 9 + 12 * 5, 13 + 12 * 8, 17 + 12 * 8 + 8 * 3}) {
    for (uint32_t count : {0xFFFFFFFFu, 0x15555556u, 1000u}) {
      bytes = valid;
      std::memcpy(&bytes[offset], &count, 4);
      EXPECT_EQ(failureFor(bytes), "Corrupt file") << offset << " " << count;
    }
  }
  const std::pair<int32_t(Face::*)[3], int32_t> badIndices[] = {
      {&Face::vertexIndex, 5},         {&Face::vertexIndex, -1},  {&Face::normalIndex, 3},
      {&Face::normalIndex, INT32_MIN}, {&Face::texCoordIndex, 3}, {&Face::texCoordIndex, -2}};
  for (const auto& [indices, value] : badIndices) {
    MeshData data = foldedPair();
    (data.faces[1].*indices)[2] = value;
    EXPECT_EQ(failureFor(encodeMeshFile(data)), "Corrupt file") << value;
  }
  MeshData noNormals = foldedPair();
  noNormals.normals.clear();
  EXPECT_EQ(failureFor(encodeMeshFile(noNormals)), "Corrupt file");
}

} // namespace
