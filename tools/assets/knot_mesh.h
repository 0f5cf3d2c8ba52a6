// The show's object: a lobed, twisted tube that follows a torus knot around
// the Y axis.
#pragma once

#include "mesh/mesh_writer.h"

namespace assets_gen {

// The knot path winds twice around the Y axis while swinging three times in
// and out, so its distance from the axis, which the radial light follows,
// ranges from about 13 to 67 units; it is about 55 units tall. The tube's
// cross-section has four smooth lobes separated by sharp grooves: corners
// on a groove keep separate normals on either side (a crease), everything
// else shares normals (smooth). Triangles wind counter-clockwise seen from
// outside. 640 rings of 24 corners give 30,720 triangles.
MeshData knotMesh();

} // namespace assets_gen
