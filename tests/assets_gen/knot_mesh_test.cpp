#include "knot_mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <utility>

using namespace assets_gen;

namespace {

class KnotMesh : public ::testing::Test {
protected:
  static void SetUpTestSuite() { mesh_ = new MeshData(knotMesh()); }
  static void TearDownTestSuite() {
    delete mesh_;
    mesh_ = nullptr;
  }
  static const MeshData& mesh() { return *mesh_; }

private:
  static MeshData* mesh_;
};

MeshData* KnotMesh::mesh_ = nullptr;

Vec3 faceNormal(const MeshData& mesh, const Face& face) {
  Vec3 a = mesh.positions[face.vertexIndex[0]];
  Vec3 b = mesh.positions[face.vertexIndex[1]];
  Vec3 c = mesh.positions[face.vertexIndex[2]];
  return cross(b - a, c - a);
}

float distanceFromAxis(Vec3 p) {
  return std::sqrt(p.x * p.x + p.z * p.z);
}

} // namespace

TEST_F(KnotMesh, SizeAndIndicesSuitTheLoader) {
  EXPECT_GE(mesh().faces.size(), 20000u);
  EXPECT_LE(mesh().faces.size(), 40000u);
  EXPECT_EQ(findMeshDataProblem(mesh()), "");
  EXPECT_GT(mesh().normals.size(), mesh().positions.size()) << "creases need extra slots";
  for (const Vec2& t : mesh().texCoords) {
    ASSERT_GE(t.u, 0.0f);
    ASSERT_LE(t.u, 1.0f);
    ASSERT_GE(t.v, 0.0f);
    ASSERT_LE(t.v, 1.0f);
  }
}

TEST_F(KnotMesh, SurfaceIsClosedAndConsistentlyWound) {
  // In a closed surface wound one way, every edge is walked exactly once in
  // each direction; a flipped triangle or a gap at a seam breaks that.
  std::map<std::pair<int, int>, int> directedEdges;
  for (const Face& face : mesh().faces)
    for (int corner = 0; corner < 3; ++corner)
      ++directedEdges[{face.vertexIndex[corner], face.vertexIndex[(corner + 1) % 3]}];
  for (const auto& [edge, count] : directedEdges) {
    ASSERT_EQ(count, 1) << edge.first << "-" << edge.second;
    ASSERT_EQ(directedEdges.count({edge.second, edge.first}), 1u)
        << edge.first << "-" << edge.second;
  }
}

TEST_F(KnotMesh, TrianglesFaceOutward) {
  // Face culling keeps only counter-clockwise triangles, so outward winding
  // is what makes the object visible: the enclosed volume comes out positive.
  double volume = 0.0;
  for (const Face& face : mesh().faces) {
    Vec3 a = mesh().positions[face.vertexIndex[0]];
    Vec3 b = mesh().positions[face.vertexIndex[1]];
    Vec3 c = mesh().positions[face.vertexIndex[2]];
    volume += dot(a, cross(b, c)) / 6.0;
    ASSERT_GT(dot(faceNormal(mesh(), face), faceNormal(mesh(), face)), 0.0f) << "degenerate";
  }
  // A tube of radius about 7 and length about 2 * pi * 40 * 2 holds some
  // tens of thousands of cubic units.
  EXPECT_GT(volume, 2.0e4);
  EXPECT_LT(volume, 3.0e5);
}

TEST_F(KnotMesh, ReadsWellFromTheCameras) {
  float nearest = 1e9f, farthest = 0.0f, highest = -1e9f, lowest = 1e9f;
  for (const Vec3& p : mesh().positions) {
    nearest = std::min(nearest, distanceFromAxis(p));
    farthest = std::max(farthest, distanceFromAxis(p));
    highest = std::max(highest, p.y);
    lowest = std::min(lowest, p.y);
  }
  // The camera starts 3 units from the origin and must not start inside the
  // object; seen from 300 units away the object must not be a speck, and
  // the orbit at radius 100 must stay outside it.
  EXPECT_GT(nearest, 6.0f);
  EXPECT_GT(farthest, 50.0f);
  EXPECT_LT(farthest, 90.0f);
  EXPECT_LT(highest, 60.0f);
  EXPECT_GT(lowest, -60.0f);
  // A wide spread of distances from the axis lets the ring of light sweep
  // across the object instead of lighting it all at once.
  EXPECT_GT(farthest / nearest, 3.0f);
}

TEST_F(KnotMesh, GroovesAreCreasedAndLobesSmooth) {
  // For every position: the set of normal slots its corners use, and the
  // face normals around it.
  std::map<int, std::set<int>> slotsAt;
  for (const Face& face : mesh().faces)
    for (int corner = 0; corner < 3; ++corner)
      slotsAt[face.vertexIndex[corner]].insert(face.normalIndex[corner]);
  size_t creased = 0, smooth = 0;
  for (const auto& [position, slots] : slotsAt) {
    ASSERT_LE(slots.size(), 2u);
    (slots.size() == 2 ? creased : smooth) += 1;
  }
  EXPECT_GT(creased, 1000u);
  EXPECT_GT(smooth, creased);
  for (const Vec3& normal : mesh().normals)
    ASSERT_NEAR(dot(normal, normal), 1.0f, 1e-3f) << "every slot is used and normalised";
  // The two sides of a groove are shaded at a clear angle to each other.
  for (const auto& [position, slots] : slotsAt) {
    if (slots.size() == 2) {
      Vec3 side = mesh().normals[*slots.begin()], otherSide = mesh().normals[*slots.rbegin()];
      ASSERT_LT(dot(side, otherSide), 0.97f) << position;
    }
  }
}

TEST_F(KnotMesh, SameMeshOnEveryCall) {
  MeshData again = knotMesh();
  ASSERT_EQ(again.positions.size(), mesh().positions.size());
  EXPECT_EQ(encodeMeshFile(again), encodeMeshFile(mesh()));
}
