#include "app/scene_script.h"

#include "app/show.h"
#include "assets/mesh.h"
#include "assets/texture.h"
#include "scene/mesh_effects.h"
#include "scene/scene_object.h"

#include <GL/gl.h>

#include <cmath>

namespace {

constexpr float kAspect = 1.3333334f;
constexpr float kNearDistance = 1.0f;
constexpr float kRingSharpness = 10.0f;
// With reduced flashing the camera swings at one gentle pace (radians a beat)
// until the credits, its colour ring five times as fast.
constexpr float kGentleSwingPace = 0.15f;

// Before beat 96 the camera swings slowly along the Y axis, from 96 to 160
// five times as fast, and from 160 it orbits, jumping half a turn's worth of
// angle every four beats. With reduced flashing the swing keeps the gentle
// pace throughout: faster, its colour ring and the mesh's bright edges sweep
// over much of the screen more than three times a second (all through the
// fast swing, and where the slow one passes closest to the mesh).
void planCamera(float t, Flashing flashing, FramePlan& plan) {
  if (t < 160.0f && flashing == Flashing::Reduced) {
    plan.fov = 60.0f + 10.0f * std::sin(kGentleSwingPace * t);
    plan.cameraPosition = {3.0f, 300.0f * std::sin(kGentleSwingPace * t), 0.0f};
    plan.roll = kGentleSwingPace * t;
    plan.colourPhase = 5.0f * kGentleSwingPace * t;
  } else if (t < 96.0f) {
    plan.fov = 60.0f + 10.0f * std::sin(0.2f * t);
    plan.cameraPosition = {3.0f, 300.0f * std::sin(0.2f * t), 0.0f};
    plan.roll = 0.2f * t;
    plan.colourPhase = t;
  } else if (t < 160.0f) {
    plan.fov = 60.0f + 10.0f * std::sin(t);
    plan.cameraPosition = {3.0f, 300.0f * std::sin(t), 0.0f};
    plan.roll = t;
    plan.colourPhase = 5.0f * t;
  } else {
    // Only x and the roll take the jump; z follows t itself.
    float u = static_cast<long long>(t * 0.25f) % 2 != 0 ? t + 2.0f : t;
    plan.fov = 90.0f;
    plan.cameraPosition = {100.0f * std::sin(0.2f * u), 10.0f, 100.0f * std::cos(0.2f * t)};
    plan.roll = 0.2f * u;
    plan.colourPhase = 0.3f * t;
  }
}

// Credits are dark for two beats, then lit for two. As composed they flash
// four times a beat while lit, each flash ramping up with the square of the
// beat quarter's fraction; reduced, they stay at full brightness instead: one
// change each way every two beats, well under three flashes a second.
float creditsBrightness(float t, Flashing flashing) {
  if (static_cast<long long>(t * 0.5f) % 2 == 0)
    return 0.0f;
  if (flashing == Flashing::Reduced)
    return 1.0f;
  float fraction = std::fmod(4.0f * t, 1.0f);
  return fraction * fraction;
}

// Additive over the frame: drawFrame has turned blending (one, one) on for
// every frame with an overlay.
void drawOverlay(Show& show, const FramePlan& plan) {
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0.0, 1.0, 0.0, 1.0, 0.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0.5f, 0.5f, 0.0f);
  glDisable(GL_LIGHTING);

  Texture* texture;
  if (plan.overlay == Overlay::Logo) {
    // The mesh's colour array leaves the current colour undefined.
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    texture = show.logoTexture;
  } else {
    float c = plan.creditsBrightness;
    glColor4f(c, c, c, 1.0f);
    texture = show.creditsTexture;
  }
  texture->bind();

  // Counter-clockwise as seen, so face culling keeps it; texture row 0 (the
  // image's top row) runs along the top of the screen.
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 1.0f);
  glVertex2f(-0.5f, -0.5f);
  glTexCoord2f(1.0f, 1.0f);
  glVertex2f(0.5f, -0.5f);
  glTexCoord2f(1.0f, 0.0f);
  glVertex2f(0.5f, 0.5f);
  glTexCoord2f(0.0f, 0.0f);
  glVertex2f(-0.5f, 0.5f);
  glEnd();

  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
}

} // namespace

FramePlan planFrame(float t, Flashing flashing) {
  FramePlan plan{};
  planCamera(t, flashing, plan);
  if (t > 32.0f)
    plan.overlay = t < 160.0f ? Overlay::Logo : Overlay::Credits;
  else
    plan.overlay = Overlay::None;
  plan.creditsBrightness = plan.overlay == Overlay::Credits ? creditsBrightness(t, flashing) : 0.0f;
  plan.additiveBlending = t > 32.0f;
  return plan;
}

void drawFrame(Show& show, float seconds) {
  const float t = beatTimeOf(seconds);
  const FramePlan plan = planFrame(t, show.flashing);

  // Set here rather than left over from earlier frames, so that a frame
  // depends on its time alone.
  if (plan.additiveBlending) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
  } else {
    glDisable(GL_BLEND);
  }
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  Matrix4 projection;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  projection.identity();
  projection.perspective(plan.fov, kAspect, kNearDistance);
  glLoadMatrixf(projection.m);

  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  Matrix4 camera;
  camera.identity();
  camera.lookAt(plan.cameraPosition, Vec3{0.0f, 0.0f, 0.0f}, plan.roll);

  Mesh* mesh = show.sceneObject->mesh;
  applyRadialColor(*mesh, (std::sin(plan.colourPhase) + 1.0f) * 0.5f, kRingSharpness);

  glMultMatrixf(camera.m);
  glEnable(GL_CULL_FACE);
  show.environmentTexture->bind();
  glEnable(GL_TEXTURE_2D);
  // The modelview matrix is the camera alone: it was loaded with the identity.
  updateEnvTexCoords(*mesh, camera);
  show.sceneObject->draw();

  if (plan.overlay != Overlay::None)
    drawOverlay(show, plan);
}
