// Meshes and textures against a real (headless) GL context.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <memory>

#include "assets/mesh.h"
#include "assets/resource_cache.h"
#include "assets/texture.h"
#include "gl_test_context.h"
#include "mesh/mesh_writer.h"
#include "png_writer.h"
#include "scene/math.h"
#include "scene/scene_object.h"
#include "test_files.h"

namespace {

class AssetsGlTest : public testing::Test {
protected:
  static void SetUpTestSuite() { context = std::make_unique<GlTestContext>(); }
  static void TearDownTestSuite() { context.reset(); }

  void SetUp() override {
    for (GLenum array :
         {GL_VERTEX_ARRAY, GL_TEXTURE_COORD_ARRAY, GL_NORMAL_ARRAY, GL_COLOR_ARRAY}) {
      glDisableClientState(array);
    }
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_COLOR_MATERIAL);
    glDisable(GL_CULL_FACE);
    glDisable(GL_TEXTURE_2D);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDepthMask(GL_FALSE); // Mesh::draw must turn depth writes back on
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
  }

  void TearDown() override { EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)); }

  Mesh* loadMesh(const MeshData& data) {
    mesh.reset(ResourceCache<Mesh>::load(dir.write("test.mesh", encodeMeshFile(data))));
    return mesh.get();
  }

  Texture* loadTexture(const PngImage& image) {
    texture.reset(ResourceCache<Texture>::load(dir.write("test.png", encodePng(image))));
    return texture.get();
  }

  static inline std::unique_ptr<GlTestContext> context;
  TempDir dir;
  std::unique_ptr<Mesh> mesh;
  std::unique_ptr<Texture> texture;
};

// A square in the YZ plane at x = 0, as a fan of four triangles around a
// centre vertex, wound so its normals point toward -X. Texture coordinates
// are all (0, 0).
MeshData facingSquare(bool withTexCoords = true) {
  MeshData data;
  data.positions = {{0, 0, 0}, {0, -1, 1}, {0, 1, 1}, {0, 1, -1}, {0, -1, -1}};
  data.normals = {{0, 0, 0}};
  if (withTexCoords) {
    data.texCoords = {{0, 0}};
  }
  for (int32_t k = 0; k < 4; ++k) {
    data.faces.push_back(Face{{0, 1 + k, 1 + (k + 1) % 4}, {0, 0, 0}, {0, 0, 0}, {}});
  }
  return data;
}

bool clientState(GLenum array) {
  return glIsEnabled(array) == GL_TRUE;
}

TEST_F(AssetsGlTest, FreshMeshDrawsWithoutColours) {
  Mesh* m = loadMesh(facingSquare());
  m->draw();
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  GLboolean depthMask = GL_FALSE;
  glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
  EXPECT_TRUE(depthMask);
  EXPECT_TRUE(clientState(GL_VERTEX_ARRAY));
  EXPECT_TRUE(clientState(GL_TEXTURE_COORD_ARRAY));
  EXPECT_TRUE(clientState(GL_NORMAL_ARRAY));
  EXPECT_FALSE(clientState(GL_COLOR_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));

  GLvoid* pointer = nullptr;
  glGetPointerv(GL_VERTEX_ARRAY_POINTER, &pointer);
  EXPECT_EQ(pointer, m->drawPositions.data());
  glGetPointerv(GL_NORMAL_ARRAY_POINTER, &pointer);
  EXPECT_EQ(pointer, m->drawNormals.data());
}

TEST_F(AssetsGlTest, ColoursTurnOnTheColourArrayAndMaterial) {
  Mesh* m = loadMesh(facingSquare(false));
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnable(GL_COLOR_MATERIAL);
  glEnableClientState(GL_COLOR_ARRAY);
  m->draw();
  EXPECT_FALSE(clientState(GL_TEXTURE_COORD_ARRAY)); // no coordinates in the file
  EXPECT_FALSE(clientState(GL_COLOR_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));

  m->applyRadialColor(0.5f, 10.0f);
  m->draw();
  EXPECT_TRUE(clientState(GL_COLOR_ARRAY));
  EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
  GLvoid* pointer = nullptr;
  glGetPointerv(GL_COLOR_ARRAY_POINTER, &pointer);
  EXPECT_EQ(pointer, m->drawColors.data());

  // The environment effect gives the mesh coordinates: the next draw uses them.
  m->updateEnvTexCoords();
  m->draw();
  EXPECT_TRUE(clientState(GL_TEXTURE_COORD_ARRAY));
}

TEST_F(AssetsGlTest, EmptyMeshDrawsNothing) {
  Mesh* m = loadMesh(MeshData{});
  m->draw();
  EXPECT_TRUE(clientState(GL_VERTEX_ARRAY));
  // Two empty arrays count as matching.
  EXPECT_TRUE(clientState(GL_TEXTURE_COORD_ARRAY));
  EXPECT_TRUE(clientState(GL_COLOR_ARRAY));
  EXPECT_EQ(context->pixel(320, 240), (std::array<uint8_t, 4>{0, 0, 0, 0}));
}

PngImage solidImage(uint32_t width, uint32_t height, uint8_t value) {
  PngImage image;
  image.width = width;
  image.height = height;
  image.rows.assign(height, std::vector<uint8_t>(3 * width, value));
  return image;
}

TEST_F(AssetsGlTest, BindCreatesTheTextureOnceWithMipmaps) {
  Texture* t = loadTexture(solidImage(3, 2, 200)); // not a power of two: GLU rescales
  EXPECT_EQ(t->glName, Texture::noGlName);
  t->bind();
  const uint32_t name = t->glName;
  ASSERT_NE(name, Texture::noGlName);
  EXPECT_TRUE(glIsTexture(name));
  glBindTexture(GL_TEXTURE_2D, 0);
  t->bind();
  EXPECT_EQ(t->glName, name);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(GLuint(bound), name);

  GLint minFilter = 0, wrapS = 0, levelOneWidth = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &levelOneWidth);
  EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_NEAREST);
  EXPECT_EQ(wrapS, GL_REPEAT);
  EXPECT_GE(levelOneWidth, 1);

  texture.reset(); // destroying it deletes the GL texture
  EXPECT_FALSE(glIsTexture(name));
}

// The demo's frame in miniature: perspective, camera, radial colours,
// environment texture, then the object. The camera stands at (-3, 0, 0)
// looking at the square, which covers x 240..400, y 160..320 on screen.
TEST_F(AssetsGlTest, RendersTheTexturedColouredMeshUnderTheCamera) {
  // White in the middle 2x2 texels, black around: environment coordinates of
  // a normal facing the viewer sample (0.5, 0.5), the white middle; the
  // file's (0, 0) would sample black.
  PngImage image = solidImage(4, 4, 0);
  for (int y : {1, 2}) {
    for (int x : {1, 2}) {
      for (int c = 0; c < 3; ++c) {
        image.rows[y][3 * x + c] = 255;
      }
    }
  }
  Texture* environment = loadTexture(image);
  Mesh* m = loadMesh(facingSquare());
  SceneObject object(m, nullptr);

  glDepthFunc(GL_LEQUAL);
  glColor4f(1, 1, 1, 1);
  Matrix4 projection;
  projection.identity().perspective(90, 1.3333334f, 1.0f);
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixf(projection.m);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  Matrix4 camera;
  camera.identity().lookAt({3, 0, 0}, {0, 0, 0}, 0);
  m->applyRadialColor(0.0f, 1.0f); // centre vertex 1, outer vertices 0
  glMultMatrixf(camera.m);
  glEnable(GL_CULL_FACE); // the square must face the camera to be seen
  environment->bind();
  glEnable(GL_TEXTURE_2D);
  m->updateEnvTexCoords();
  object.draw();

  using Rgba = std::array<uint8_t, 4>;
  auto expectGrey = [&](int x, int y, int level) {
    const Rgba p = context->pixel(x, y);
    EXPECT_NEAR(p[0], level, 4) << x << "," << y;
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
  };
  expectGrey(320, 240, 253); // the centre vertex: brightness 1
  expectGrey(360, 240, 128); // halfway to the side: brightness 0.5
  expectGrey(320, 200, 128);
  expectGrey(398, 240, 3); // near the edge: dark
  expectGrey(100, 100, 0); // outside: the clear colour
  expectGrey(420, 240, 0);
}

} // namespace
