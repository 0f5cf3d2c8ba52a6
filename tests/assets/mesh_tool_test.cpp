// The MESH0 writer and the OBJ import of viriz-mesh.
#include <gtest/gtest.h>

#include "assets/mesh_loader.h"
#include "mesh/mesh_writer.h"
#include "mesh/obj_import.h"
#include "test_files.h"

namespace {

TEST(MeshWriterTest, WritesWhatTheLoaderReadsAndNothingElse) {
  TempDir dir;
  MeshData data;
  data.positions = {{1.5f, -2, 3}, {0, 0, 0}, {-1, 4, 0.25f}};
  data.normals = {{0, 1, 0}, {1, 0, 0}};
  data.texCoords = {{0.25f, 0.75f}};
  data.faces = {Face{{2, 0, 1}, {1, 0, 1}, {0, 0, 0}, {}}};
  const std::string path = dir.file("round.mesh");
  ASSERT_TRUE(writeMeshFile(path.c_str(), data));
  EXPECT_EQ(std::filesystem::file_size(path), 21u + 12 * 3 + 12 * 2 + 8 + 36);
  std::unique_ptr<Mesh> mesh = loadMesh(path);
  EXPECT_EQ(mesh->positions[2].z, 0.25f);
  EXPECT_EQ(mesh->texCoords[0].v, 0.75f);
  EXPECT_EQ(mesh->faces[0].vertexIndex[0], 2);
  EXPECT_EQ(mesh->faces[0].normalIndex[1], 0);

  data.faces[0].vertexIndex[1] = 3;
  const std::string bad = dir.file("bad.mesh");
  EXPECT_FALSE(writeMeshFile(bad.c_str(), data));
  EXPECT_FALSE(std::filesystem::exists(bad));
}

TEST(ObjImportTest, TriangulatesAndKeepsTheNormalTopology) {
  TempDir dir;
  const std::string quad = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                           "vn 0 0 1\nvn 0 0 -1\nf 1/1/1 2/2/2 3/3/1 4/4/2\n";
  MeshData data;
  std::string error;
  ASSERT_TRUE(importObjFile(dir.write("quad.obj", {quad.begin(), quad.end()}), data, error));
  ASSERT_EQ(data.faces.size(), 2u);
  EXPECT_EQ(data.normals.size(), 2u);
  for (const Face& face : data.faces) {
    for (int c = 0; c < 3; ++c) { // each corner keeps its OBJ pairing
      EXPECT_EQ(face.texCoordIndex[c], face.vertexIndex[c]);
      EXPECT_EQ(face.normalIndex[c], face.vertexIndex[c] % 2);
    }
  }

  // Without normals, corners share one slot per position.
  const std::string bare = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nf 1 2 3\nf 1 4 2\n";
  ASSERT_TRUE(importObjFile(dir.write("bare.obj", {bare.begin(), bare.end()}), data, error));
  EXPECT_EQ(data.normals.size(), 4u);
  EXPECT_EQ(data.faces[1].normalIndex[1], 3);
  EXPECT_EQ(findMeshDataProblem(data), "");
}

} // namespace
