#include <gtest/gtest.h>

#include "scene/mesh_effects.h"

namespace {

Mesh meshWithCornerNormals(std::vector<Vec3> normals) {
  Mesh mesh;
  mesh.drawNormals = normals;
  mesh.drawPositions.resize(normals.size());
  return mesh;
}

void expectTexCoord(Vec2 actual, float u, float v) {
  EXPECT_NEAR(actual.u, u, 1e-6f);
  EXPECT_NEAR(actual.v, v, 1e-6f);
}

TEST(EnvTexCoordsTest, NormalsMapThroughTheirViewDirection) {
  Mesh mesh = meshWithCornerNormals({{0, 0, 1}, {1, 0, 0}, {0, -3, 0}, {0, 0, -1}, {0, 0, 0}});
  mesh.drawTexCoords.assign(9, Vec2{7, 7});
  Matrix4 identity;
  updateEnvTexCoords(mesh, identity.identity());
  ASSERT_EQ(mesh.drawTexCoords.size(), 5u);
  expectTexCoord(mesh.drawTexCoords[0], 0.5f, 0.5f);
  expectTexCoord(mesh.drawTexCoords[1], 1.0f, 0.5f);
  expectTexCoord(mesh.drawTexCoords[2], 0.5f, 0.0f); // renormalised
  expectTexCoord(mesh.drawTexCoords[3], 0.5f, 0.5f);
  expectTexCoord(mesh.drawTexCoords[4], 0.5f, 0.5f); // a zero normal: the centre, not NaN
}

TEST(EnvTexCoordsTest, TranslationAndUniformScaleChangeNothing) {
  std::vector<Vec3> normals;
  for (int i = 0; i < 150; ++i) { // more than one block of corners
    normals.push_back({std::sin(i * 0.1f), std::cos(i * 0.3f), 0.5f});
  }
  Mesh plain = meshWithCornerNormals(normals), moved = plain;
  Matrix4 turn, scaleAndMove;
  turn.rotation(0.4f, -0.9f, 1.7f);
  scaleAndMove.identity();
  scaleAndMove.m[0] = scaleAndMove.m[5] = scaleAndMove.m[10] = 3.5f;
  scaleAndMove.m[12] = 10;
  updateEnvTexCoords(plain, turn);
  updateEnvTexCoords(moved, scaleAndMove * turn);
  for (size_t i = 0; i < normals.size(); ++i) {
    expectTexCoord(moved.drawTexCoords[i], plain.drawTexCoords[i].u, plain.drawTexCoords[i].v);
  }
  const Vec3 turned = normalize(turn.transformDirection(normals[149]));
  expectTexCoord(plain.drawTexCoords[149], (turned.x + 1) / 2, (turned.y + 1) / 2);
}

// Vertices at distances 1, 5 and 0 from the Y axis: radial 0.2, 1 and 0.
Mesh radialMesh() {
  Mesh mesh;
  mesh.positions = {{1, 5, 0}, {3, -2, 4}, {0, 7, 0}};
  mesh.faces = {Face{{2, 1, 0}, {0, 0, 0}, {0, 0, 0}, {}}};
  mesh.buildDrawArrays();
  return mesh;
}

TEST(RadialColorTest, BrightnessFallsLinearlyFromTheRingUnclamped) {
  Mesh mesh = radialMesh();
  applyRadialColor(mesh, 0.35f, 10.0f);
  ASSERT_EQ(mesh.radial.size(), 3u);
  EXPECT_NEAR(mesh.radial[0], 0.2f, 1e-6f);
  EXPECT_NEAR(mesh.radial[1], 1.0f, 1e-6f);
  EXPECT_NEAR(mesh.radial[2], 0.0f, 1e-6f);
  EXPECT_NEAR(mesh.colors[0].r, -0.5f, 1e-5f); // 0.15 away
  applyRadialColor(mesh, 0.1f, 10.0f);
  EXPECT_NEAR(mesh.colors[2].g, 0.0f, 1e-5f); // 0.1 away
  applyRadialColor(mesh, 0.2f, 10.0f);
  const Color4 lit = mesh.colors[0];
  EXPECT_TRUE(lit.r == 1.0f && lit.g == 1.0f && lit.b == 1.0f && lit.a == 1.0f);
  // Corners follow their vertex indices: face (2, 1, 0).
  EXPECT_NEAR(mesh.drawColors[0].r, -1.0f, 1e-5f);
  EXPECT_NEAR(mesh.drawColors[2].r, 1.0f, 1e-5f);
}

TEST(RadialColorTest, RadialValuesAreComputedOnceWithStorageReused) {
  Mesh mesh = radialMesh();
  applyRadialColor(mesh, 0.5f, 10.0f);
  mesh.positions[0] = {100, 0, 0};
  const Color4* drawColors = mesh.drawColors.data();
  applyRadialColor(mesh, 0.2f, 10.0f);
  EXPECT_NEAR(mesh.radial[0], 0.2f, 1e-6f);
  EXPECT_EQ(mesh.drawColors.data(), drawColors);
}

TEST(RadialColorTest, EqualDistancesGiveZeroEverywhere) {
  Mesh mesh;
  mesh.positions = {{1, 0, 0}, {0, 3, 1}, {-0.6f, 9, 0.8f}};
  mesh.computeRadial();
  EXPECT_EQ(mesh.radial, (std::vector<float>{0, 0, 0}));
}

} // namespace
