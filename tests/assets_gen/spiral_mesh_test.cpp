#include "spiral_mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <set>
#include <utility>
#include <vector>

using namespace assets_gen;

namespace {

class SpiralMesh : public ::testing::Test {
protected:
  static void SetUpTestSuite() { mesh_ = new MeshData(spiralMesh()); }
  static void TearDownTestSuite() {
    delete mesh_;
    mesh_ = nullptr;
  }
  static const MeshData& mesh() { return *mesh_; }

private:
  static MeshData* mesh_;
};

MeshData* SpiralMesh::mesh_ = nullptr;

Vec3 faceNormal(const MeshData& mesh, const Face& face) {
  Vec3 a = mesh.positions[face.vertexIndex[0]];
  Vec3 b = mesh.positions[face.vertexIndex[1]];
  Vec3 c = mesh.positions[face.vertexIndex[2]];
  return cross(b - a, c - a);
}

float distanceFromAxis(Vec3 p) {
  return std::sqrt(p.x * p.x + p.z * p.z);
}

// What a camera at `eye` looking at the origin sees, on a coarse grid: per
// cell the scene's radial value (distance from the Y axis scaled to [0, 1]
// over the mesh, as the demo's ring of light uses it) of the nearest
// surface, or -1 where the view is empty. A small depth-buffered rasteriser;
// triangles reaching behind the near plane are left out.
std::vector<float> radialView(const MeshData& mesh, Vec3 eye, float fovDegrees) {
  constexpr int kWidth = 80, kHeight = 60;
  const float focal = 1.0f / std::tan(0.5f * fovDegrees * std::numbers::pi_v<float> / 180.0f);
  const Vec3 forward = normalize(eye * -1.0f);
  const Vec3 right = normalize(cross(forward, {0.0f, 1.0f, 0.0f}));
  const Vec3 up = cross(right, forward);

  float nearest = 1e9f, farthest = 0.0f;
  for (const Vec3& p : mesh.positions) {
    nearest = std::min(nearest, distanceFromAxis(p));
    farthest = std::max(farthest, distanceFromAxis(p));
  }
  struct Projected {
    float x, y, depth, radial;
  };
  std::vector<Projected> projected;
  for (const Vec3& p : mesh.positions) {
    Vec3 v = p - eye;
    float depth = dot(v, forward);
    projected.push_back({(dot(v, right) / depth * focal * 0.75f + 1.0f) * 0.5f * kWidth,
                         (dot(v, up) / depth * focal + 1.0f) * 0.5f * kHeight, depth,
                         (distanceFromAxis(p) - nearest) / (farthest - nearest)});
  }

  std::vector<float> depth(kWidth * kHeight, 1e30f), radial(kWidth * kHeight, -1.0f);
  for (const Face& face : mesh.faces) {
    const Projected& a = projected[face.vertexIndex[0]];
    const Projected& b = projected[face.vertexIndex[1]];
    const Projected& c = projected[face.vertexIndex[2]];
    if (a.depth < 1.0f || b.depth < 1.0f || c.depth < 1.0f)
      continue;
    float area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
    if (area == 0.0f)
      continue;
    int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, c.x}))));
    int x1 = std::min(kWidth - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, c.x}))));
    int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, c.y}))));
    int y1 = std::min(kHeight - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, c.y}))));
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        float px = x + 0.5f, py = y + 0.5f;
        float wa = ((b.x - px) * (c.y - py) - (c.x - px) * (b.y - py)) / area;
        float wb = ((c.x - px) * (a.y - py) - (a.x - px) * (c.y - py)) / area;
        float wc = 1.0f - wa - wb;
        if (wa < 0.0f || wb < 0.0f || wc < 0.0f)
          continue;
        float d = wa * a.depth + wb * b.depth + wc * c.depth;
        int cell = y * kWidth + x;
        if (d < depth[cell]) {
          depth[cell] = d;
          radial[cell] = wa * a.radial + wb * b.radial + wc * c.radial;
        }
      }
    }
  }
  return radial;
}

double shareOf(const std::vector<float>& view, float low, float high) {
  auto inside = std::count_if(view.begin(), view.end(),
                              [&](float r) { return r >= 0.0f && r >= low && r <= high; });
  return static_cast<double>(inside) / static_cast<double>(view.size());
}

} // namespace

TEST_F(SpiralMesh, SizeAndIndicesSuitTheLoader) {
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

TEST_F(SpiralMesh, SurfaceIsClosedAndConsistentlyWound) {
  // In a closed surface wound one way, every edge is walked exactly once in
  // each direction; a flipped triangle, a gap at a seam or an open tip
  // breaks that.
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

TEST_F(SpiralMesh, TrianglesFaceOutward) {
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
  // Two blades about 1,000 units long with a fluted cross-section of some
  // 200 square units.
  EXPECT_GT(volume, 2.0e5);
  EXPECT_LT(volume, 8.0e5);
}

TEST_F(SpiralMesh, LeavesTheCameraPathsClear) {
  float nearest = 1e9f, farthest = 0.0f, highest = -1e9f, lowest = 1e9f;
  for (const Vec3& p : mesh().positions) {
    nearest = std::min(nearest, distanceFromAxis(p));
    farthest = std::max(farthest, distanceFromAxis(p));
    highest = std::max(highest, p.y);
    lowest = std::min(lowest, p.y);
  }
  // The camera's line 3 units from the axis runs up the well, with room for
  // the near plane and the field of view; the circling camera comes within
  // 78 units of the axis.
  EXPECT_GT(nearest, 20.0f);
  EXPECT_LT(farthest, 72.0f);
  // The staircase spans most of the camera's swing to 300 units, but the
  // camera still rises clear of it to see the spiral whole.
  EXPECT_GT(highest, 200.0f);
  EXPECT_LT(highest, 280.0f);
  EXPECT_LT(lowest, -200.0f);
  EXPECT_GT(lowest, -280.0f);
}

TEST_F(SpiralMesh, EveryViewOfTheShowFindsTheRingOfLight) {
  // Wherever the ring of light is (a band about 0.1 wide in radial value),
  // the surface the camera sees holds some of it: from the line along the
  // axis, inside the well and above the tips, and from the circling camera.
  struct Camera {
    Vec3 eye;
    float fov;
  };
  std::vector<Camera> cameras;
  for (float height : {-290.0f, -200.0f, -100.0f, 100.0f, 200.0f, 290.0f})
    cameras.push_back({{3.0f, height, 0.0f}, 60.0f});
  for (float angle : {0.0f, 1.6f, 3.2f, 4.8f})
    cameras.push_back({{100.0f * std::sin(angle), 10.0f, 100.0f * std::cos(angle)}, 90.0f});
  for (const Camera& camera : cameras) {
    std::vector<float> view = radialView(mesh(), camera.eye, camera.fov);
    SCOPED_TRACE(testing::Message()
                 << "camera at " << camera.eye.x << ", " << camera.eye.y << ", " << camera.eye.z);
    EXPECT_GT(shareOf(view, 0.0f, 1.0f), 0.25) << "the object fills a good part of the view";
    for (int step = 0; step <= 10; ++step) {
      float centre = 0.1f * static_cast<float>(step);
      EXPECT_GT(shareOf(view, centre - 0.05f, centre + 0.05f), 0.004) << "ring at " << centre;
    }
  }
}

TEST_F(SpiralMesh, GroovesAreCreasedAndFacesSmooth) {
  // For every position: the set of normal slots its corners use.
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

TEST_F(SpiralMesh, SameMeshOnEveryCall) {
  MeshData again = spiralMesh();
  ASSERT_EQ(again.positions.size(), mesh().positions.size());
  EXPECT_EQ(encodeMeshFile(again), encodeMeshFile(mesh()));
}
