// The three pictures of the show: the environment map that the mesh
// reflects, and the two overlays added on top of the frame.
#pragma once

#include "image.h"
#include "text.h"

namespace assets_gen {

// A bright studio seen in a mirror ball, laid out as a sphere map: texel
// (s, t) holds what a surface whose view-space normal has x = 2s - 1 and
// y = 2t - 1 reflects. Row 0 is t = 0, normals facing down.
Image environmentMap(int size);

// The overlays are added to the frame, so black adds nothing: the title
// "viriz" with a glow, scan lines and a rule, and the credits list.
Image logoOverlay(const Font& font, int size);
Image creditsOverlay(const Font& font, int size);

} // namespace assets_gen
