#include "knot_mesh.h"

#include <cmath>
#include <numbers>

namespace assets_gen {

namespace {

constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;

// The path: a (2, 3) torus knot around the Y axis.
constexpr float kKnotRadius = 40.0f; // mean distance of the path from the axis
constexpr float kKnotSwing = 15.0f;  // in and out from that distance
constexpr float kKnotHeight = 15.0f; // up and down
constexpr int kTurnsAroundAxis = 2;
constexpr int kSwingsPerLoop = 3;

// The tube around the path.
constexpr int kRings = 640;          // cross-sections along the path
constexpr int kRingCorners = 24;     // corners per cross-section
constexpr int kLobes = 4;            // lobes per cross-section
constexpr int kTwistTurns = 2;       // turns of the lobes per loop
constexpr float kGrooveDepth = 0.3f; // of the tube radius
constexpr int kCornersPerLobe = kRingCorners / kLobes;
static_assert(kRingCorners % kLobes == 0, "grooves must fall on ring corners");

struct Frame {
  Vec3 centre, tangent, normal, binormal;
};

// Point and right-handed frame of the path at angle `phi`. The frame's
// normal is the world's up direction made perpendicular to the tangent,
// which never runs vertical on this path; so the frame closes up without
// a seam at the end of the loop.
Frame pathFrame(float phi) {
  float swing = kSwingsPerLoop * phi;
  float turn = kTurnsAroundAxis * phi;
  float radius = kKnotRadius + kKnotSwing * std::cos(swing);
  float radiusRate = -kKnotSwing * kSwingsPerLoop * std::sin(swing);
  Frame frame;
  frame.centre = {radius * std::cos(turn), kKnotHeight * std::sin(swing), radius * std::sin(turn)};
  frame.tangent =
      normalize({radiusRate * std::cos(turn) - radius * kTurnsAroundAxis * std::sin(turn),
                 kKnotHeight * kSwingsPerLoop * std::cos(swing),
                 radiusRate * std::sin(turn) + radius * kTurnsAroundAxis * std::cos(turn)});
  Vec3 up = {0.0f, 1.0f, 0.0f};
  frame.normal = normalize(up - frame.tangent * dot(up, frame.tangent));
  frame.binormal = cross(frame.tangent, frame.normal);
  return frame;
}

// The tube swells and narrows five times along the loop.
float tubeRadius(float phi) {
  return 9.5f + 3.0f * std::cos(5.0f * phi);
}

// Cross-section profile: 1 on the lobes, falling with a sharp cusp into the
// grooves between them.
float lobeProfile(int corner) {
  float angle = kTwoPi * static_cast<float>(corner) / kRingCorners;
  float lobe = std::abs(std::sin(0.5f * kLobes * angle));
  return 1.0f - kGrooveDepth + kGrooveDepth * std::pow(lobe, 0.6f);
}

int positionIndex(int ring, int corner) {
  return (ring % kRings) * kRingCorners + corner % kRingCorners;
}

int texCoordIndex(int ring, int corner) {
  return ring * (kRingCorners + 1) + corner;
}

bool onGroove(int corner) {
  return corner % kCornersPerLobe == 0;
}

// Normal slot of a corner as used by a face of the strip between ring
// corners `stripCorner` and `stripCorner` + 1. Grooves have a second slot
// for the strip on their far side, so the two sides are shaded apart.
int normalIndex(int ring, int corner, int stripCorner) {
  int wrappedRing = ring % kRings;
  int wrappedCorner = corner % kRingCorners;
  if (onGroove(wrappedCorner) && wrappedCorner == stripCorner)
    return kRings * kRingCorners + wrappedRing * kLobes + wrappedCorner / kCornersPerLobe;
  return positionIndex(ring, corner);
}

Face makeFace(const int (&corners)[3][2], int stripCorner) {
  Face face{};
  for (int i = 0; i < 3; ++i) {
    int ring = corners[i][0], corner = corners[i][1];
    face.vertexIndex[i] = positionIndex(ring, corner);
    face.normalIndex[i] = normalIndex(ring, corner, stripCorner);
    face.texCoordIndex[i] = texCoordIndex(ring, corner);
  }
  return face;
}

// Each slot the normalised sum of the unit normals of the faces using it,
// which is what the demo's loader recomputes too.
void fillNormals(MeshData& data) {
  Mesh mesh;
  mesh.positions = data.positions;
  mesh.normals.resize(data.normals.size());
  mesh.faces = data.faces;
  mesh.computeNormals();
  data.normals = mesh.normals;
}

} // namespace

MeshData knotMesh() {
  MeshData data;
  for (int ring = 0; ring < kRings; ++ring) {
    float phi = kTwoPi * static_cast<float>(ring) / kRings;
    Frame frame = pathFrame(phi);
    float radius = tubeRadius(phi);
    for (int corner = 0; corner < kRingCorners; ++corner) {
      float angle = kTwoPi * static_cast<float>(corner) / kRingCorners + kTwistTurns * phi;
      Vec3 outward = frame.normal * std::cos(angle) + frame.binormal * std::sin(angle);
      data.positions.push_back(frame.centre + outward * (radius * lobeProfile(corner)));
    }
  }
  // Texture coordinates run once along and once around the tube; the seams
  // get their own row and column so no triangle wraps from 1 back to 0.
  for (int ring = 0; ring <= kRings; ++ring)
    for (int corner = 0; corner <= kRingCorners; ++corner)
      data.texCoords.push_back(
          {static_cast<float>(ring) / kRings, static_cast<float>(corner) / kRingCorners});
  data.normals.resize(static_cast<size_t>(kRings * kRingCorners + kRings * kLobes));

  // With the frame right-handed and corners counted from its normal toward
  // its binormal, (around) x (along) points out of the tube.
  for (int ring = 0; ring < kRings; ++ring) {
    for (int corner = 0; corner < kRingCorners; ++corner) {
      int first[3][2] = {{ring, corner}, {ring, corner + 1}, {ring + 1, corner}};
      int second[3][2] = {{ring + 1, corner}, {ring, corner + 1}, {ring + 1, corner + 1}};
      data.faces.push_back(makeFace(first, corner));
      data.faces.push_back(makeFace(second, corner));
    }
  }
  fillNormals(data);
  return data;
}

} // namespace assets_gen
