#pragma once

#include "scene/math.h"

class Mesh;

// One placed instance of a mesh: its own transform inside an optional parent's.
// Owns nothing; the mesh belongs to the mesh cache.
class SceneObject {
public:
  SceneObject(Mesh* mesh, SceneObject* parent);

  Matrix4 transform; // identity after construction
  SceneObject* parent;
  Mesh* mesh;

  // root * ... * parent * transform, gathered afresh on each call.
  Matrix4 worldTransform() const;
  // Draws the mesh under the world transform multiplied onto the current
  // modelview matrix, which is left as it was. Without a mesh, touches no GL state.
  void draw();
};
