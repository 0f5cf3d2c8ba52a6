// Drawing from client memory (the desktop backends): GL reads the per-corner
// arrays where they are, with one glDrawArrays.
#include "assets/mesh.h"

#include <GL/gl.h>

void Mesh::draw() {
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);

  const size_t cornerCount = drawPositions.size();
  glVertexPointer(3, GL_FLOAT, 0, drawPositions.data());
  glEnableClientState(GL_VERTEX_ARRAY);

  if (drawTexCoords.size() == cornerCount) {
    glTexCoordPointer(2, GL_FLOAT, 0, drawTexCoords.data());
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  } else {
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }

  if (drawNormals.size() == cornerCount) {
    glNormalPointer(GL_FLOAT, 0, drawNormals.data());
    glEnableClientState(GL_NORMAL_ARRAY);
  } else {
    glDisableClientState(GL_NORMAL_ARRAY);
  }

  if (drawColors.size() == cornerCount) {
    glColorPointer(4, GL_FLOAT, 0, drawColors.data());
    glEnableClientState(GL_COLOR_ARRAY);
    glEnable(GL_COLOR_MATERIAL);
  } else {
    glDisableClientState(GL_COLOR_ARRAY);
    glDisable(GL_COLOR_MATERIAL);
  }

  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(cornerCount));
}
