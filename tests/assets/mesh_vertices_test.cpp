// The shared vertices a buffer-object backend draws: indexed, they must give
// every corner exactly the values of the per-corner arrays.
#include <gtest/gtest.h>

#include "assets/mesh_vertices.h"
#include "scene/math.h"
#include "scene/mesh_effects.h"

namespace {

// A strip of `quads` squares along X, two triangles each, whose shared edges
// share vertices and normal slots; texture coordinates per vertex, except
// that the first square's first triangle takes its own coordinate at
// vertex 0.
Mesh strip(int quads) {
  Mesh mesh;
  for (int i = 0; i <= quads; ++i) {
    const float x = float(i);
    mesh.positions.insert(mesh.positions.end(), {{x, 0, 1}, {x, 1, 2}});
    mesh.normals.insert(mesh.normals.end(), {{0, 0, 1}, {0, 0.6f, 0.8f}});
    mesh.texCoords.insert(mesh.texCoords.end(), {{x, 0}, {x, 1}});
  }
  mesh.texCoords.push_back({7, 7});
  const int32_t ownTexCoord = int32_t(mesh.texCoords.size() - 1);
  for (int32_t i = 0; i < quads; ++i) {
    const int32_t a = 2 * i, b = a + 1, c = a + 2, d = a + 3;
    mesh.faces.push_back(Face{{a, c, d}, {a, c, d}, {i == 0 ? ownTexCoord : a, c, d}, {}});
    mesh.faces.push_back(Face{{a, d, b}, {a, d, b}, {a, d, b}, {}});
  }
  mesh.buildDrawArrays();
  return mesh;
}

// Where corner `corner` reads its values in the interleaved vertices.
const float* vertexOf(const std::vector<float>& vertices, const SharedVertices& shared,
                      const InterleavedLayout& layout, size_t corner) {
  const size_t vertex = shared.indices.empty() ? corner : shared.indices[corner];
  return &vertices[vertex * layout.stride];
}

void expectCornersMatch(const Mesh& mesh) {
  const SharedVertices shared = shareCorners(mesh);
  const InterleavedLayout layout = interleavedLayout(mesh);
  std::vector<float> vertices;
  interleave(mesh, shared, layout, vertices);
  ASSERT_EQ(vertices.size(), shared.cornerOf.size() * layout.stride);
  for (size_t corner = 0; corner < mesh.drawPositions.size(); ++corner) {
    SCOPED_TRACE(corner);
    const float* v = vertexOf(vertices, shared, layout, corner);
    const Vec3& position = mesh.drawPositions[corner];
    EXPECT_EQ((std::vector<float>{v[0], v[1], v[2]}),
              (std::vector<float>{position.x, position.y, position.z}));
    if (layout.texCoords >= 0) {
      const Vec2& t = mesh.drawTexCoords[corner];
      EXPECT_EQ(v[layout.texCoords], t.u);
      EXPECT_EQ(v[layout.texCoords + 1], t.v);
    }
    if (layout.normals >= 0) {
      const Vec3& n = mesh.drawNormals[corner];
      EXPECT_EQ(
          (std::vector<float>{v[layout.normals], v[layout.normals + 1], v[layout.normals + 2]}),
          (std::vector<float>{n.x, n.y, n.z}));
    }
    if (layout.colors >= 0) {
      const Color4& c = mesh.drawColors[corner];
      EXPECT_EQ((std::vector<float>{v[layout.colors], v[layout.colors + 1], v[layout.colors + 2],
                                    v[layout.colors + 3]}),
                (std::vector<float>{c.r, c.g, c.b, c.a}));
    }
  }
}

TEST(SharedVerticesTest, CornersWithTheSameIndicesBecomeOneVertexInOrderOfFirstUse) {
  const Mesh mesh = strip(3);
  const SharedVertices shared = shareCorners(mesh);
  // Eight positions, plus vertex 0 a second time with its own coordinate.
  ASSERT_EQ(shared.cornerOf.size(), 9u);
  ASSERT_EQ(shared.indices.size(), 18u);
  EXPECT_EQ(std::vector<uint16_t>(shared.indices.begin(), shared.indices.begin() + 9),
            (std::vector<uint16_t>{0, 1, 2, 3, 2, 4, 1, 5, 6}));
  EXPECT_EQ(shared.cornerOf[3], 3u); // vertex 0 with its usual coordinate, first seen at corner 3
}

TEST(SharedVerticesTest, IndexedVerticesGiveEveryCornerItsValuesBeforeAndAfterTheEffects) {
  Mesh mesh = strip(4);
  expectCornersMatch(mesh); // as loaded: no colours
  EXPECT_EQ(interleavedLayout(mesh).colors, -1);

  // The effects write the coordinates from the normal slots and the colours
  // from the vertices.
  Matrix4 turn;
  turn.identity();
  turn.lookAt(Vec3{3, 1, 2}, Vec3{0, 0, 0}, 0.4f);
  applyRadialColor(mesh, 0.3f, 10.0f);
  updateEnvTexCoords(mesh, turn);
  const InterleavedLayout layout = interleavedLayout(mesh);
  EXPECT_EQ(layout.stride, 12u);
  EXPECT_EQ(layout.texCoords, 3);
  EXPECT_EQ(layout.normals, 5);
  EXPECT_EQ(layout.colors, 8);
  expectCornersMatch(mesh);
}

TEST(SharedVerticesTest, ArraysOfAnotherCountStayOutOfTheVertex) {
  Mesh mesh = strip(2);
  mesh.drawTexCoords.clear();
  mesh.drawNormals.pop_back();
  const InterleavedLayout layout = interleavedLayout(mesh);
  EXPECT_EQ(layout.stride, 3u);
  EXPECT_EQ(layout.texCoords, -1);
  EXPECT_EQ(layout.normals, -1);
  expectCornersMatch(mesh);
}

// Every corner its own vertex: `corners` corners.
Mesh separateCorners(size_t corners) {
  Mesh mesh;
  for (size_t i = 0; i < corners; ++i) {
    mesh.positions.push_back({float(i), 0, 0});
  }
  for (int32_t i = 0; i + 3 <= int32_t(corners); i += 3) {
    mesh.faces.push_back(Face{{i, i + 1, i + 2}, {0, 0, 0}, {0, 0, 0}, {}});
  }
  mesh.buildDrawArrays();
  return mesh;
}

TEST(SharedVerticesTest, MoreVerticesThanSixteenBitIndicesReachDrawTheCornersThemselves) {
  const Mesh fits = separateCorners(kMaxIndexedVertices - 1); // 65535 corners, 21845 faces
  EXPECT_EQ(shareCorners(fits).indices.size(), kMaxIndexedVertices - 1);

  const Mesh tooMany = separateCorners(kMaxIndexedVertices + 2);
  const SharedVertices shared = shareCorners(tooMany);
  EXPECT_TRUE(shared.indices.empty());
  ASSERT_EQ(shared.cornerOf.size(), tooMany.drawPositions.size());
  EXPECT_EQ(shared.cornerOf.back(), kMaxIndexedVertices + 1);
  expectCornersMatch(tooMany);
}

TEST(SharedVerticesTest, CornerArraysNotBuiltFromTheFacesAreDrawnAsTheyAre) {
  Mesh mesh = strip(1);
  mesh.drawPositions.push_back({5, 5, 5}); // no face has this corner
  EXPECT_TRUE(shareCorners(mesh).indices.empty());
  expectCornersMatch(mesh);

  Mesh empty;
  const SharedVertices none = shareCorners(empty);
  EXPECT_TRUE(none.cornerOf.empty() && none.indices.empty());
}

} // namespace
