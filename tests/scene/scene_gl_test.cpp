// Scene pieces that talk to GL, run in a headless context.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <memory>

#include "assets/mesh.h"
#include "gl_test_context.h"
#include "scene/math.h"
#include "scene/scene_object.h"

namespace {

class SceneGlTest : public testing::Test {
protected:
  static void SetUpTestSuite() { context = std::make_unique<GlTestContext>(); }
  static void TearDownTestSuite() { context.reset(); }

  void SetUp() override {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
  }

  static Matrix4 currentModelview() {
    Matrix4 m;
    glGetFloatv(GL_MODELVIEW_MATRIX, m.m);
    return m;
  }

  static inline std::unique_ptr<GlTestContext> context;
};

Matrix4 translation(float x, float y, float z) {
  Matrix4 t;
  t.identity();
  t.m[12] = x;
  t.m[13] = y;
  t.m[14] = z;
  return t;
}

TEST_F(SceneGlTest, EnvTexCoordsReadTheCurrentModelviewMatrix) {
  Mesh mesh;
  mesh.drawPositions.assign(2, Vec3{0, 0, 0});
  mesh.drawNormals = {{1, 0, 0}, {0, 0, 1}};
  // A quarter turn about Y sends +X to -Z and +Z to +X.
  glRotatef(90, 0, 1, 0);
  glTranslatef(4, 5, 6);
  mesh.updateEnvTexCoords();
  ASSERT_EQ(mesh.drawTexCoords.size(), 2u);
  EXPECT_NEAR(mesh.drawTexCoords[0].u, 0.5f, 1e-6f);
  EXPECT_NEAR(mesh.drawTexCoords[1].u, 1.0f, 1e-6f);
  EXPECT_NEAR(mesh.drawTexCoords[1].v, 0.5f, 1e-6f);
}

TEST_F(SceneGlTest, DrawWithoutMeshTouchesNothing) {
  SceneObject object(nullptr, nullptr);
  object.transform = translation(1, 2, 3);
  glMatrixMode(GL_PROJECTION);
  glDisable(GL_DEPTH_TEST);
  object.draw();
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_PROJECTION);
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  glMatrixMode(GL_MODELVIEW);
}

TEST_F(SceneGlTest, DrawRestoresTheModelviewMatrix) {
  Mesh mesh;
  SceneObject object(&mesh, nullptr);
  object.transform = translation(1, 2, 3);
  glTranslatef(0, 0, -5);
  const Matrix4 before = currentModelview();
  glMatrixMode(GL_PROJECTION);
  object.draw();
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
  const Matrix4 after = currentModelview();
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(after.m[i], before.m[i]);
  }
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(SceneObjectTest, WorldTransformAppliesTheOutermostAncestorLast) {
  SceneObject root(nullptr, nullptr);
  SceneObject middle(nullptr, &root);
  SceneObject leaf(nullptr, &middle);
  EXPECT_EQ(root.worldTransform().m[12], 0.0f);

  root.transform.rotation(0, 0, 1.5707964f); // quarter turn about Z
  middle.transform = translation(1, 0, 0);
  leaf.transform = translation(0, 0, 2);

  // The leaf's origin: (0,0,2), then (1,0,2), then turned to (0,1,2).
  const Matrix4 world = leaf.worldTransform();
  EXPECT_NEAR(world.m[12], 0.0f, 1e-6f);
  EXPECT_NEAR(world.m[13], 1.0f, 1e-6f);
  EXPECT_NEAR(world.m[14], 2.0f, 1e-6f);

  const Matrix4 own = middle.worldTransform();
  EXPECT_NEAR(own.m[13], 1.0f, 1e-6f);
}

} // namespace
