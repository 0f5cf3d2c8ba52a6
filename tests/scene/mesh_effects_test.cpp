#include <gtest/gtest.h>

#include "scene/mesh_effects.h"

#include <cmath>

namespace {

// One vertex and as many corners as normal slots, corner i on slot i.
Mesh meshWithNormalSlots(std::vector<Vec3> normals) {
  Mesh mesh;
  mesh.positions = {{0, 0, 0}};
  mesh.normals = normals;
  for (int32_t slot = 0; slot < int32_t(normals.size()); slot += 3) {
    mesh.faces.push_back(Face{{0, 0, 0}, {slot, slot + 1, slot + 2}, {0, 0, 0}, {}});
  }
  mesh.buildDrawArrays();
  return mesh;
}

void expectTexCoord(Vec2 actual, float u, float v) {
  EXPECT_NEAR(actual.u, u, 1e-6f);
  EXPECT_NEAR(actual.v, v, 1e-6f);
}

TEST(EnvTexCoordsTest, NormalsMapThroughTheirViewDirection) {
  Mesh mesh = meshWithNormalSlots(
      {{0, 0, 1}, {1, 0, 0}, {0, -3, 0}, {0, 0, -1}, {0, 0, 0}, {0, 0.6f, 0.8f}});
  mesh.drawTexCoords.assign(9, Vec2{7, 7});
  Matrix4 identity;
  updateEnvTexCoords(mesh, identity.identity());
  ASSERT_EQ(mesh.drawTexCoords.size(), 6u);
  expectTexCoord(mesh.drawTexCoords[0], 0.5f, 0.5f);
  expectTexCoord(mesh.drawTexCoords[1], 1.0f, 0.5f);
  expectTexCoord(mesh.drawTexCoords[2], 0.5f, 0.0f); // renormalised
  expectTexCoord(mesh.drawTexCoords[3], 0.5f, 0.5f);
  expectTexCoord(mesh.drawTexCoords[4], 0.5f, 0.5f); // a zero normal: the centre, not NaN
  expectTexCoord(mesh.drawTexCoords[5], 0.5f, 0.8f);

  Mesh empty;
  empty.drawTexCoords.assign(3, Vec2{7, 7});
  updateEnvTexCoords(empty, identity);
  EXPECT_TRUE(empty.drawTexCoords.empty());
}

TEST(EnvTexCoordsTest, TranslationAndUniformScaleChangeNothing) {
  std::vector<Vec3> normals;
  for (int i = 0; i < 150; ++i) {
    normals.push_back({std::sin(i * 0.1f), std::cos(i * 0.3f), 0.5f});
  }
  Mesh plain = meshWithNormalSlots(normals), moved = plain;
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

// Both effects work per vertex or normal slot and copy the results to the
// corners; the corners must end up exactly as the corner-by-corner
// definition gives them, shared slots and all.
TEST(FrameEffectsTest, CornersGetExactlyWhatTheirOwnVertexAndNormalGive) {
  Mesh mesh;
  for (int i = 0; i < 40; ++i) {
    mesh.positions.push_back({std::cos(i * 0.7f) * (1 + i % 5), float(i), std::sin(i * 0.7f)});
    mesh.normals.push_back({std::sin(i * 1.3f), std::cos(i * 0.4f), 0.3f - float(i % 3)});
  }
  mesh.normals.push_back({0, 0, 0}); // a slot no corner uses
  for (int32_t k = 0; k < 37; ++k) { // shared and unshared slots, in no particular order
    mesh.faces.push_back(Face{{k, k + 1, (k * 7) % 40}, {k, (k * 11) % 40, k + 3}, {0, 0, 0}, {}});
  }
  mesh.buildDrawArrays();
  Matrix4 camera;
  camera.identity().lookAt({3, 280, -40}, {0, 0, 0}, 0.9f);

  applyRadialColor(mesh, 0.42f, 10.0f);
  updateEnvTexCoords(mesh, camera);

  ASSERT_EQ(mesh.drawColors.size(), 3 * mesh.faces.size());
  ASSERT_EQ(mesh.drawTexCoords.size(), 3 * mesh.faces.size());
  for (size_t i = 0; i < mesh.drawTexCoords.size(); ++i) {
    const Face& face = mesh.faces[i / 3];
    const Color4 vertexColor = mesh.colors[face.vertexIndex[i % 3]];
    EXPECT_EQ(mesh.drawColors[i].r, vertexColor.r) << i;
    EXPECT_EQ(mesh.drawColors[i].a, vertexColor.a) << i;

    const Vec3 v = camera.transformDirection(mesh.normals[face.normalIndex[i % 3]]);
    const float scale = 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    EXPECT_EQ(mesh.drawTexCoords[i].u, (v.x * scale + 1.0f) * 0.5f) << i;
    EXPECT_EQ(mesh.drawTexCoords[i].v, (v.y * scale + 1.0f) * 0.5f) << i;
  }
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
