// The one GLU call the show makes, which emscripten does not provide. WebGL
// builds the levels itself, from a level 0 whose internal format equals its
// format; it mipmaps only sides that are powers of two, as the show's images
// are (GLU would rescale others).
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

GLint gluBuild2DMipmaps(GLenum target, GLint, GLsizei width, GLsizei height, GLenum format,
                        GLenum type, const void* data) {
  glTexImage2D(target, 0, static_cast<GLint>(format), width, height, 0, format, type, data);
  glGenerateMipmap(target);
  return 0;
}
