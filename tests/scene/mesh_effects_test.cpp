#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "assets/mesh.h"
#include "scene/math.h"

namespace {

Matrix4 identityMatrix() {
  Matrix4 m;
  m.identity();
  return m;
}

// A mesh whose corners carry exactly the given normals (positions are irrelevant).
Mesh meshWithCornerNormals(std::vector<Vec3> normals) {
  Mesh mesh;
  mesh.drawNormals = normals;
  mesh.drawPositions.assign(normals.size(), Vec3{0, 0, 0});
  return mesh;
}

void expectTexCoord(Vec2 actual, float u, float v) {
  EXPECT_NEAR(actual.u, u, 1e-6f);
  EXPECT_NEAR(actual.v, v, 1e-6f);
}

TEST(EnvTexCoordsTest, NormalsFacingTheViewMapToTheirXY) {
  Mesh mesh = meshWithCornerNormals({{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, -1}, {0, -3, 0}});
  mesh.updateEnvTexCoords(identityMatrix());
  ASSERT_EQ(mesh.drawTexCoords.size(), 5u);
  expectTexCoord(mesh.drawTexCoords[0], 0.5f, 0.5f);
  expectTexCoord(mesh.drawTexCoords[1], 1.0f, 0.5f);
  expectTexCoord(mesh.drawTexCoords[2], 0.5f, 1.0f);
  expectTexCoord(mesh.drawTexCoords[3], 0.5f, 0.5f);
  expectTexCoord(mesh.drawTexCoords[4], 0.5f, 0.0f); // renormalised, not (0.5, -1)
  EXPECT_EQ(mesh.drawNormals[4].y, -3.0f);           // the mesh's normals stay as they were
}

TEST(EnvTexCoordsTest, TranslationAndUniformScaleChangeNothing) {
  Mesh plain = meshWithCornerNormals({{0.6f, 0.0f, 0.8f}, {0.0f, -0.8f, 0.6f}, {1, 1, 1}});
  Mesh moved = plain;

  Matrix4 turn;
  turn.rotation(0.4f, -0.9f, 1.7f);
  Matrix4 scaleAndMove;
  scaleAndMove.identity();
  scaleAndMove.m[0] = scaleAndMove.m[5] = scaleAndMove.m[10] = 3.5f;
  scaleAndMove.m[12] = 10;
  scaleAndMove.m[13] = -4;
  scaleAndMove.m[14] = 7;

  plain.updateEnvTexCoords(turn);
  moved.updateEnvTexCoords(scaleAndMove * turn);
  for (size_t i = 0; i < plain.drawTexCoords.size(); ++i) {
    expectTexCoord(moved.drawTexCoords[i], plain.drawTexCoords[i].u, plain.drawTexCoords[i].v);
  }
  // The rotation really turned the normals.
  EXPECT_GT(std::fabs(plain.drawTexCoords[0].u - 0.8f), 0.01f);
}

TEST(EnvTexCoordsTest, ResizesToTheCornerCountAndReusesStorage) {
  Mesh mesh = meshWithCornerNormals({{0, 0, 1}, {1, 0, 0}});
  mesh.drawTexCoords.assign(7, Vec2{9, 9});
  mesh.updateEnvTexCoords(identityMatrix());
  EXPECT_EQ(mesh.drawTexCoords.size(), 2u);
  const Vec2* storage = mesh.drawTexCoords.data();
  mesh.updateEnvTexCoords(identityMatrix());
  EXPECT_EQ(mesh.drawTexCoords.data(), storage);

  Mesh empty;
  empty.drawTexCoords.assign(3, Vec2{1, 1});
  empty.updateEnvTexCoords(identityMatrix());
  EXPECT_TRUE(empty.drawTexCoords.empty());
}

TEST(EnvTexCoordsTest, ZeroNormalMapsToTheCentreNotNaN) {
  Mesh mesh = meshWithCornerNormals({{0, 0, 0}});
  mesh.updateEnvTexCoords(identityMatrix());
  expectTexCoord(mesh.drawTexCoords[0], 0.5f, 0.5f);
}

// Three vertices at distances 1, 5 and 0 from the Y axis, one face.
Mesh radialMesh() {
  Mesh mesh;
  mesh.positions = {{1, 5, 0}, {3, -2, 4}, {0, 7, 0}};
  Face face{};
  for (int c = 0; c < 3; ++c) {
    face.vertexIndex[c] = c;
  }
  mesh.faces = {face};
  mesh.normals.assign(1, Vec3{0, 0, 0});
  mesh.buildDrawArrays();
  return mesh;
}

TEST(RadialColorTest, RadialValuesRescaleDistancesFromTheYAxis) {
  Mesh mesh = radialMesh();
  mesh.computeRadial();
  ASSERT_EQ(mesh.radial.size(), 3u);
  EXPECT_NEAR(mesh.radial[0], 0.2f, 1e-6f);
  EXPECT_NEAR(mesh.radial[1], 1.0f, 1e-6f);
  EXPECT_NEAR(mesh.radial[2], 0.0f, 1e-6f);
}

TEST(RadialColorTest, RingBrightnessFallsLinearlyAndIsNotClamped) {
  Mesh mesh = radialMesh(); // radial 0.2, 1, 0
  mesh.applyRadialColor(0.2f, 10.0f);
  ASSERT_EQ(mesh.colors.size(), 3u);
  EXPECT_NEAR(mesh.colors[0].r, 1.0f, 1e-5f);
  EXPECT_NEAR(mesh.colors[2].g, -1.0f, 1e-5f); // 0.2 away
  EXPECT_NEAR(mesh.colors[1].a, -7.0f, 1e-5f); // 0.8 away

  mesh.applyRadialColor(0.1f, 10.0f); // vertex 0 and 2 both 0.1 away
  EXPECT_NEAR(mesh.colors[0].b, 0.0f, 1e-5f);
  EXPECT_NEAR(mesh.colors[2].b, 0.0f, 1e-5f);
  mesh.applyRadialColor(0.35f, 10.0f); // vertex 0 is 0.15 away
  EXPECT_NEAR(mesh.colors[0].r, -0.5f, 1e-5f);
  const Color4 c = mesh.colors[0];
  EXPECT_TRUE(c.r == c.g && c.g == c.b && c.b == c.a);
}

TEST(RadialColorTest, ColoursReachTheCornersThroughVertexIndices) {
  Mesh mesh = radialMesh();
  std::swap(mesh.faces[0].vertexIndex[0], mesh.faces[0].vertexIndex[2]);
  mesh.applyRadialColor(0.0f, 1.0f); // colour = 1 - radial
  ASSERT_EQ(mesh.drawColors.size(), 3u);
  EXPECT_NEAR(mesh.drawColors[0].r, 1.0f, 1e-6f); // vertex 2, radial 0
  EXPECT_NEAR(mesh.drawColors[1].r, 0.0f, 1e-6f); // vertex 1, radial 1
  EXPECT_NEAR(mesh.drawColors[2].r, 0.8f, 1e-6f); // vertex 0, radial 0.2
}

TEST(RadialColorTest, RadialValuesAreComputedOnceAndStorageIsReused) {
  Mesh mesh = radialMesh();
  mesh.applyRadialColor(0.5f, 10.0f);
  // Moving a vertex afterwards must not change the radial values: they are
  // computed on first use only.
  mesh.positions[0] = {100, 0, 0};
  const Color4* colors = mesh.colors.data();
  const Color4* drawColors = mesh.drawColors.data();
  const float* radial = mesh.radial.data();
  mesh.applyRadialColor(0.2f, 10.0f);
  EXPECT_NEAR(mesh.radial[0], 0.2f, 1e-6f);
  EXPECT_EQ(mesh.colors.data(), colors);
  EXPECT_EQ(mesh.drawColors.data(), drawColors);
  EXPECT_EQ(mesh.radial.data(), radial);
}

TEST(RadialColorTest, EqualDistancesGiveZeroEverywhere) {
  Mesh mesh;
  mesh.positions = {{1, 0, 0}, {0, 3, 1}, {-0.6f, 9, 0.8f}};
  mesh.computeRadial();
  for (float value : mesh.radial) {
    EXPECT_EQ(value, 0.0f);
  }

  Mesh empty;
  empty.computeRadial();
  empty.applyRadialColor(0.5f, 10.0f);
  EXPECT_TRUE(empty.radial.empty());
  EXPECT_TRUE(empty.colors.empty());
}

} // namespace
