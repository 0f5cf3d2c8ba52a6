// Drawing from buffer objects (the browser). WebGL has no client memory to
// draw from: the GL emulation would interleave the four per-corner arrays in
// script and upload all of them for every draw, and the renderer would shade
// every corner. Here the corners that share their indices become one vertex
// (see mesh_vertices.h), interleaved once per draw into one buffer (the
// emulation reads every attribute from the bound buffer with one stride), and
// a static index buffer, uploaded once, draws the same triangles in the same
// order. The picture is the one client arrays give.
#define GL_GLEXT_PROTOTYPES
#include "assets/mesh.h"
#include "assets/mesh_vertices.h"

#include <GL/gl.h>
#include <GL/glext.h>

struct Mesh::DrawBuffers {
  GLuint vertexBuffer = 0;
  GLuint indexBuffer = 0;
  size_t cornerCount = 0; // of the corner arrays `shared` was made for
  SharedVertices shared;
  std::vector<float> vertices;
};

namespace {

// The shared vertices are worked out on the first draw and again when the
// corner count changes; the faces do not change once loaded. The buffers
// live as long as the page's context.
void prepareBuffers(Mesh& mesh) {
  if (!mesh.drawBuffers) {
    mesh.drawBuffers = std::make_shared<Mesh::DrawBuffers>();
    glGenBuffers(1, &mesh.drawBuffers->vertexBuffer);
    glGenBuffers(1, &mesh.drawBuffers->indexBuffer);
  }
  Mesh::DrawBuffers& buffers = *mesh.drawBuffers;
  if (buffers.cornerCount == mesh.drawPositions.size() && !buffers.shared.cornerOf.empty()) {
    return;
  }
  buffers.cornerCount = mesh.drawPositions.size();
  buffers.shared = shareCorners(mesh);
  const std::vector<uint16_t>& indices = buffers.shared.indices;
  if (!indices.empty()) {
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers.indexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices.size() * sizeof indices[0]),
                 indices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  }
}

const void* floatOffset(int floats) {
  return reinterpret_cast<const void*>(size_t(floats) * sizeof(float));
}

} // namespace

void Mesh::draw() {
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);

  const size_t cornerCount = drawPositions.size();
  if (cornerCount == 0) {
    glDrawArrays(GL_TRIANGLES, 0, 0);
    return;
  }
  prepareBuffers(*this);
  DrawBuffers& buffers = *drawBuffers;
  const InterleavedLayout layout = interleavedLayout(*this);
  interleave(*this, buffers.shared, layout, buffers.vertices);

  // Rewritten every draw: the effects change the coordinates and colours.
  glBindBuffer(GL_ARRAY_BUFFER, buffers.vertexBuffer);
  glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(buffers.vertices.size() * sizeof(float)),
               buffers.vertices.data(), GL_STREAM_DRAW);

  const GLsizei stride = GLsizei(layout.stride * sizeof(float));
  glVertexPointer(3, GL_FLOAT, stride, floatOffset(0));
  glEnableClientState(GL_VERTEX_ARRAY);

  if (layout.texCoords >= 0) {
    glTexCoordPointer(2, GL_FLOAT, stride, floatOffset(layout.texCoords));
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  } else {
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }

  if (layout.normals >= 0) {
    glNormalPointer(GL_FLOAT, stride, floatOffset(layout.normals));
    glEnableClientState(GL_NORMAL_ARRAY);
  } else {
    glDisableClientState(GL_NORMAL_ARRAY);
  }

  if (layout.colors >= 0) {
    glColorPointer(4, GL_FLOAT, stride, floatOffset(layout.colors));
    glEnableClientState(GL_COLOR_ARRAY);
    glEnable(GL_COLOR_MATERIAL);
  } else {
    glDisableClientState(GL_COLOR_ARRAY);
    glDisable(GL_COLOR_MATERIAL);
  }

  if (!buffers.shared.indices.empty()) {
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers.indexBuffer);
    glDrawElements(GL_TRIANGLES, GLsizei(cornerCount), GL_UNSIGNED_SHORT, nullptr);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  } else {
    glDrawArrays(GL_TRIANGLES, 0, GLsizei(cornerCount));
  }
  // The emulation draws glBegin/glEnd and client arrays only while no buffer
  // is bound.
  glBindBuffer(GL_ARRAY_BUFFER, 0);
}
