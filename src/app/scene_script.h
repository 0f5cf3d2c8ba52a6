#pragma once

#include "scene/math.h"

struct Show;

// Beats of 0.3 s: every threshold of the show is in beat time.
inline float beatTimeOf(float seconds) {
  return seconds * 3.3333333f;
}

enum class Overlay { None, Logo, Credits };

// How much the show flashes: as composed, or reduced for viewers sensitive to
// flashing lights (the credits lit steadily through each lit half instead of
// pulsing four times a beat, and the swing before them at a gentle pace).
enum class Flashing { AsComposed, Reduced };

// Everything a frame draws that depends on the beat time alone.
struct FramePlan {
  float fov;           // vertical field of view, degrees
  Vec3 cameraPosition; // as lookAt takes it, looking at the origin
  float roll;          // radians about the view axis
  float colourPhase;   // the ring of brightness is centred at (sin + 1) / 2
  Overlay overlay;     // drawn additively over the whole screen
  float creditsBrightness;
  // Blending (one, one) for the whole frame, the mesh included: the overlay
  // turns it on and the show keeps it on from then on.
  bool additiveBlending;
};

FramePlan planFrame(float beatTime, Flashing flashing = Flashing::AsComposed);

// Draws one frame of the show, as the show's flashing mode asks, for a music
// clock in seconds into the back buffer. Leaves the matrix mode at modelview
// and the projection stack as found.
void drawFrame(Show& show, float seconds);
