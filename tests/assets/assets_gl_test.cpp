// Meshes and textures in a headless GL context.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include "assets/mesh_loader.h"
#include "assets/texture.h"
#include "gl_test_context.h"
#include "mesh/mesh_writer.h"
#include "png_writer.h"
#include "scene/mesh_effects.h"
#include "scene/scene_object.h"
#include "test_files.h"

namespace {

class AssetsGlTest : public testing::Test {
protected:
  std::unique_ptr<Mesh> loadMeshData(const MeshData& data) {
    return loadMesh(dir.write("m.mesh", encodeMeshFile(data)));
  }
  std::unique_ptr<Texture> loadPngImage(const PngImage& image) {
    return loadTexture(dir.write("t.png", encodePng(image)));
  }
  void TearDown() override { EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)); }

  GlTestContext context;
  TempDir dir;
};

// A square in the YZ plane at x = 0: a fan of four triangles around a centre
// vertex, facing -X. Its texture coordinates are all (0, 0).
MeshData facingSquare(bool withTexCoords) {
  MeshData data;
  data.positions = {{0, 0, 0}, {0, -1, 1}, {0, 1, 1}, {0, 1, -1}, {0, -1, -1}};
  data.normals.resize(1);
  data.texCoords.resize(withTexCoords ? 1 : 0);
  for (int32_t k = 0; k < 4; ++k) {
    data.faces.push_back(Face{{0, 1 + k, 1 + (k + 1) % 4}, {0, 0, 0}, {0, 0, 0}, {}});
  }
  return data;
}

TEST_F(AssetsGlTest, DrawSetsClientStatesFromTheArraysItHas) {
  const auto enabled = [](GLenum what) { return glIsEnabled(what) == GL_TRUE; };
  auto mesh = loadMeshData(facingSquare(true));
  glDepthMask(GL_FALSE);
  glEnableClientState(GL_COLOR_ARRAY);
  glEnable(GL_COLOR_MATERIAL);
  mesh->draw();
  GLboolean depthMask = GL_FALSE;
  glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
  EXPECT_TRUE(depthMask && enabled(GL_DEPTH_TEST));
  EXPECT_TRUE(enabled(GL_VERTEX_ARRAY) && enabled(GL_TEXTURE_COORD_ARRAY) &&
              enabled(GL_NORMAL_ARRAY));
  EXPECT_FALSE(enabled(GL_COLOR_ARRAY) || enabled(GL_COLOR_MATERIAL)); // no colours yet

  applyRadialColor(*mesh, 0.5f, 10.0f);
  mesh->draw();
  EXPECT_TRUE(enabled(GL_COLOR_ARRAY) && enabled(GL_COLOR_MATERIAL));
  GLvoid* pointer = nullptr;
  glGetPointerv(GL_COLOR_ARRAY_POINTER, &pointer);
  EXPECT_EQ(pointer, mesh->drawColors.data());

  auto bare = loadMeshData(facingSquare(false));
  bare->draw();
  EXPECT_FALSE(enabled(GL_TEXTURE_COORD_ARRAY));
  auto empty = loadMeshData(MeshData{});
  empty->draw(); // a count of 0: nothing drawn, and two empty arrays match
  EXPECT_TRUE(enabled(GL_TEXTURE_COORD_ARRAY));
}

TEST_F(AssetsGlTest, BindCreatesTheTextureOnce) {
  PngImage image;
  image.width = 3; // not a power of two: GLU rescales
  image.rows = {{200, 200, 200, 1, 1, 1, 2, 2, 2}};
  auto texture = loadPngImage(image);
  texture->bind();
  const uint32_t name = texture->glName;
  ASSERT_NE(name, Texture::kNoGlName);
  glBindTexture(GL_TEXTURE_2D, 0);
  texture->bind();
  EXPECT_EQ(texture->glName, name);
  GLint bound = 0, minFilter = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  EXPECT_EQ(GLuint(bound), name);
  EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_NEAREST);
  texture.reset();
  EXPECT_FALSE(glIsTexture(name));
}

// The demo's frame in miniature. The camera stands at (-3, 0, 0) looking at
// the square, which covers x 240..400, y 160..320 of the 640x480 frame.
TEST_F(AssetsGlTest, RendersTheTexturedColouredMeshUnderTheCamera) {
  // White in the middle 2x2 texels, black around: the environment coordinate
  // of a normal facing the viewer, (0.5, 0.5), samples white; the file's
  // (0, 0) would sample black.
  PngImage image;
  image.width = image.height = 4;
  image.rows.assign(4, std::vector<uint8_t>(12, 0));
  for (int y : {1, 2}) {
    std::fill_n(image.rows[y].begin() + 3, 6, 255);
  }
  auto environment = loadPngImage(image);
  auto mesh = loadMeshData(facingSquare(true));
  SceneObject object(mesh.get(), nullptr);
  object.transform.m[0] = 5; // stretches along X, where the square is flat

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDepthFunc(GL_LEQUAL);
  Matrix4 projection, camera;
  projection.perspective(90, 1.3333334f, 1.0f);
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixf(projection.m);
  glMatrixMode(GL_MODELVIEW);
  camera.lookAt({3, 0, 0}, {0, 0, 0}, 0);
  applyRadialColor(*mesh, 0.0f, 1.0f); // centre vertex 1, outer vertices 0
  glMultMatrixf(camera.m);
  glEnable(GL_CULL_FACE); // the square must face the camera to be seen
  environment->bind();
  glEnable(GL_TEXTURE_2D);
  updateEnvTexCoords(*mesh, camera);
  glMatrixMode(GL_PROJECTION);
  object.draw();

  // Drawing the object leaves the camera alone on the modelview stack.
  Matrix4 modelview;
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview.m);
  EXPECT_EQ(std::vector<float>(modelview.m, modelview.m + 16),
            std::vector<float>(camera.m, camera.m + 16));
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
  SceneObject nothing(nullptr, nullptr);
  glMatrixMode(GL_PROJECTION);
  nothing.draw(); // without a mesh: no GL state touched
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_PROJECTION);

  const std::pair<std::array<int, 2>, int> samples[] = {
      {{320, 240}, 253}, {{360, 240}, 128}, {{320, 200}, 128}, // brightness 1, 0.5, 0.5
      {{398, 240}, 3},   {{100, 100}, 0},   {{420, 240}, 0}};  // the edge, outside
  for (const auto& [at, level] : samples) {
    const auto rgba = context.pixel(at[0], at[1]);
    EXPECT_NEAR(rgba[0], level, 4) << at[0] << "," << at[1];
    EXPECT_TRUE(rgba[0] == rgba[1] && rgba[1] == rgba[2]);
  }
}

} // namespace
