// The MESH0 writer, the OBJ import and the viriz-mesh tool.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "mesh/mesh_writer.h"
#include "mesh/obj_import.h"
#include "test_files.h"

namespace {

std::string writeText(const TempDir& dir, const std::string& name, const std::string& text) {
  return dir.write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(MeshWriterTest, WrittenFilesLoadBackUnchanged) {
  TempDir dir;
  MeshData data;
  data.positions = {{1.5f, -2, 3}, {0, 0, 0}, {-1, 4, 0.25f}};
  data.normals = {{0, 1, 0}, {1, 0, 0}};
  data.texCoords = {{0.25f, 0.75f}};
  data.faces = {Face{{2, 0, 1}, {1, 0, 1}, {0, 0, 0}, {}}};
  const std::string path = dir.path("round.mesh");
  ASSERT_TRUE(writeMeshFile(path.c_str(), data));
  EXPECT_EQ(std::filesystem::file_size(path), 21u + 12 * 3 + 12 * 2 + 8 * 1 + 36 * 1);

  std::unique_ptr<Mesh> mesh(ResourceCache<Mesh>::load(path));
  ASSERT_EQ(mesh->positions.size(), 3u);
  EXPECT_EQ(mesh->positions[0].x, 1.5f);
  EXPECT_EQ(mesh->positions[2].z, 0.25f);
  EXPECT_EQ(mesh->normals.size(), 2u);
  EXPECT_EQ(mesh->texCoords[0].v, 0.75f);
  EXPECT_EQ(mesh->faces[0].vertexIndex[0], 2);
  EXPECT_EQ(mesh->faces[0].normalIndex[1], 0);
}

TEST(MeshWriterTest, RefusesMeshesTheLoaderWouldReject) {
  TempDir dir;
  MeshData data;
  data.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  data.normals = {{0, 0, 1}};
  data.faces = {Face{{0, 1, 3}, {0, 0, 0}, {7, 7, 7}, {}}};
  const std::string path = dir.path("bad.mesh");
  EXPECT_NE(findMeshDataProblem(data), "");
  EXPECT_FALSE(writeMeshFile(path.c_str(), data));
  EXPECT_FALSE(std::filesystem::exists(path));

  data.faces[0].vertexIndex[2] = 2; // texture indices are free without coordinates
  EXPECT_EQ(findMeshDataProblem(data), "");
  EXPECT_FALSE(writeMeshFile(dir.path("no/such/dir.mesh").c_str(), data));
}

TEST(ObjImportTest, PolygonsBecomeTrianglesKeepingNormalIndices) {
  TempDir dir;
  const std::string obj = writeText(dir, "quad.obj",
                                    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                                    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                                    "vn 0 0 1\nvn 0 0 -1\n"
                                    "f 1/1/1 2/2/2 3/3/1 4/4/2\n");
  MeshData data;
  std::string error;
  ASSERT_TRUE(importObjFile(obj, data, error)) << error;
  EXPECT_EQ(data.positions.size(), 4u);
  EXPECT_EQ(data.normals.size(), 2u);
  EXPECT_EQ(data.texCoords.size(), 4u);
  ASSERT_EQ(data.faces.size(), 2u);
  int32_t corners = 0;
  for (const Face& face : data.faces) {
    for (int c = 0; c < 3; ++c) {
      // Each corner keeps the pairing of its OBJ reference: vertex k uses
      // texture coordinate k and normal k % 2.
      EXPECT_EQ(face.texCoordIndex[c], face.vertexIndex[c]);
      EXPECT_EQ(face.normalIndex[c], face.vertexIndex[c] % 2);
      corners |= 1 << face.vertexIndex[c];
    }
  }
  EXPECT_EQ(corners, 0b1111);
}

TEST(ObjImportTest, CornersWithoutNormalsShareOneSlotPerPosition) {
  TempDir dir;
  const std::string obj = writeText(dir, "bare.obj",
                                    "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n"
                                    "f 1 2 3\nf 1 4 2\n");
  MeshData data;
  std::string error;
  ASSERT_TRUE(importObjFile(obj, data, error)) << error;
  EXPECT_EQ(data.normals.size(), 4u);
  EXPECT_TRUE(data.texCoords.empty());
  ASSERT_EQ(data.faces.size(), 2u);
  EXPECT_EQ(data.faces[1].normalIndex[0], data.faces[1].vertexIndex[0]);
  EXPECT_EQ(findMeshDataProblem(data), "");

  EXPECT_FALSE(importObjFile(dir.path("absent.obj"), data, error));
  EXPECT_NE(error, "");
}

TEST(MeshToolTest, ConvertsAndChecksFiles) {
  TempDir dir;
  const std::string tool = std::string(VIRIZ_BINARY_DIR) + "/bin/viriz-mesh";
  const std::string obj = writeText(dir, "tri.obj", "v 0 0 0\nv 2 0 0\nv 0 3 -1\nf 1 2 3\n");
  const std::string mesh = dir.path("tri.mesh");
  const std::string quiet = " >/dev/null 2>&1";
  EXPECT_EQ(std::system((tool + " convert " + obj + " " + mesh + quiet).c_str()), 0);
  const std::string listing = dir.path("info.txt");
  EXPECT_EQ(std::system((tool + " info " + mesh + " >" + listing).c_str()), 0);
  std::ifstream in(listing);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("faces 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("bounds min 0 0 -1 max 2 3 0"), std::string::npos) << text;

  std::filesystem::resize_file(mesh, 30);
  EXPECT_NE(std::system((tool + " info " + mesh + quiet).c_str()), 0);
  EXPECT_NE(std::system((tool + " frobnicate" + quiet).c_str()), 0);
}

} // namespace
