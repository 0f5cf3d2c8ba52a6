#pragma once

#include "assets/mesh.h"
#include "scene/math.h"

// The two per-frame mesh effects. Both rewrite parts of the mesh in place and
// keep its arrays' storage from frame to frame: a steady frame allocates nothing.

// Gives every triangle corner the texture coordinate ((x + 1) / 2, (y + 1) / 2)
// of its normal as `modelview` (the matrix the mesh is drawn with) turns it,
// renormalised: a view-dependent environment map.
void updateEnvTexCoords(Mesh& mesh, const Matrix4& modelview);

// Gives every vertex the grey level 1 - |sharpness * (radial - centre)|, in
// colour and alpha alike and not clamped, and copies the colours to the
// corners: a bright ring at radius `centre` about the Y axis. The radial
// values are computed on the first call.
void applyRadialColor(Mesh& mesh, float centre, float sharpness);
