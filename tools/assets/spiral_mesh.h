// The show's object: two fluted blades that wind around the Y axis like the
// ramps of a double spiral staircase and taper to points at both ends.
#pragma once

#include "mesh/mesh_writer.h"

namespace assets_gen {

// The show's camera first rises and falls along a line 3 units from the Y
// axis, out to 300 units from the middle, then circles the axis 80 to 120
// units out near mid-height. The staircase is built around that path: its
// open well (radius 28) lets the camera fly up and down the axis, looking
// down the spiral; the blades end 40 units short of the camera's turning
// points, so at the top of each swing it sees the whole spiral from outside;
// and its outer edge (radius 68) stays clear of the circling camera. The
// radial light ring of the scene sweeps from the well out to the outer edge,
// which every view shows in part.
//
// Each blade turns three times around the axis on its way up, 520 units
// tall; the two are half a turn apart, so a blade passes every 87 units of
// height. A blade's cross-section is a flat ellipse 40 units wide and 10
// thick whose faces are fluted by sharp grooves: corners on a groove keep
// separate normals on either side (a crease), everything else shares
// normals (smooth). Triangles wind counter-clockwise seen from outside.
// Per blade 320 rings of 24 corners between the two tips give 30,720
// triangles in all.
MeshData spiralMesh();

} // namespace assets_gen
