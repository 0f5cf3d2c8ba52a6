#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "assets/vectors.h"

// One triangle: each corner indexes the positions, normals and texture
// coordinates separately, as the MESH0 file stores it.
struct Face {
  int32_t vertexIndex[3];
  int32_t normalIndex[3];
  int32_t texCoordIndex[3];
  Vec3 normal; // the triangle's unit normal, computed at load
};

// A triangle mesh: the indexed data of the file plus flat per-corner copies
// (three entries per face, in face order) that GL draws as vertex arrays.
class Mesh {
public:
  std::vector<Vec3> positions;
  std::vector<Vec3> normals; // slots shared by corners; recomputed from the geometry
  std::vector<Vec2> texCoords;
  std::vector<Color4> colors; // one per position, filled by the radial colour effect
  std::vector<float> radial;  // one per position in [0, 1], filled on first use
  std::vector<Face> faces;
  std::vector<Vec3> drawPositions;
  std::vector<Vec3> drawNormals;
  std::vector<Vec2> drawTexCoords;
  std::vector<Color4> drawColors;

  // For the per-frame effects, laid out as they read them fastest: per-corner
  // copies taken in sequence instead of walking the faces, and the normal
  // slots split by component.
  std::vector<float> cornerRadial;          // each corner's vertex's radial, filled with radial
  std::vector<int32_t> cornerNormalIndices; // each corner's normal slot, filled with drawNormals
  std::vector<float> normalXs;              // the normal slots' x, y and z, filled with drawNormals
  std::vector<float> normalYs;
  std::vector<float> normalZs;
  std::vector<Vec2> normalTexCoords; // one per normal slot, written by the environment effect

  // Face normals from the corners' winding, and each normal slot the
  // normalised sum of the unit normals of the faces whose corners use it.
  void computeNormals();
  // Each position's distance from the Y axis, rescaled so the nearest is 0
  // and the farthest 1, and its copy for every corner.
  void computeRadial();

  void buildDrawArrays();
  void buildDrawPositions();
  // Also fills cornerNormalIndices and normalXs, normalYs, normalZs.
  void buildDrawNormals();
  void buildDrawTexCoords();
  void buildDrawColors();

  // What a backend that draws from GL buffer objects keeps between draws,
  // defined by that backend; empty where the mesh draws from client memory.
  struct DrawBuffers;
  std::shared_ptr<DrawBuffers> drawBuffers;

  // Draws the per-corner arrays with one draw call: from client memory with
  // glDrawArrays on the desktop, from buffer objects in the browser (see
  // mesh_vertices.h). Leaves depth testing on and the client states as set.
  void draw();
};
