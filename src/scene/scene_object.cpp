#include "scene/scene_object.h"

#include <GL/gl.h>

#include "assets/mesh.h"

SceneObject::SceneObject(Mesh* mesh, SceneObject* parent) : parent(parent), mesh(mesh) {
  transform.identity();
}

Matrix4 SceneObject::worldTransform() const {
  Matrix4 world = transform;
  for (const SceneObject* ancestor = parent; ancestor; ancestor = ancestor->parent) {
    world = ancestor->transform * world;
  }
  return world;
}

void SceneObject::draw() {
  if (!mesh) {
    return;
  }
  const Matrix4 world = worldTransform();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glMultMatrixf(world.m);
  mesh->draw();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
}

// The rows are s, u, +f and the translation is by +position, so a point p
// lands at (s, u, f) . (p + position): the view of a camera standing at
// -position looking toward -target. The roll then turns it about the view axis.
void Matrix4::lookAt(Vec3 position, Vec3 target, float roll) {
  const Vec3 forward = normalize(target - position);
  const Vec3 side0 = cross(Vec3{0.0f, 1.0f, 0.0f}, forward);
  const Vec3 up = normalize(cross(forward, side0));
  const Vec3 side = normalize(cross(up, forward));

  m[0] = side.x;
  m[4] = side.y;
  m[8] = side.z;
  m[1] = up.x;
  m[5] = up.y;
  m[9] = up.z;
  m[2] = forward.x;
  m[6] = forward.y;
  m[10] = forward.z;
  m[3] = m[7] = m[11] = 0.0f;
  m[12] = m[13] = m[14] = 0.0f;
  m[15] = 1.0f;

  Matrix4 translation;
  translation.identity();
  translation.m[12] = position.x;
  translation.m[13] = position.y;
  translation.m[14] = position.z;
  *this *= translation;

  Matrix4 rollRotation;
  rollRotation.rotation(0.0f, 0.0f, roll);
  *this = rollRotation * *this;
}
