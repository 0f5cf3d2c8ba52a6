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
