#include "spiral_mesh.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace assets_gen {

namespace {

constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;

// The staircase.
constexpr int kBlades = 2;
constexpr float kHalfHeight = 260.0f; // the tips lie this far above and below the middle
constexpr float kTurns = 3.0f;        // of each blade around the axis, tip to tip
constexpr float kInnerRadius = 28.0f; // of the well
constexpr float kOuterRadius = 68.0f;
constexpr float kMidRadius = 0.5f * (kInnerRadius + kOuterRadius);
constexpr float kHalfWidth = 0.5f * (kOuterRadius - kInnerRadius);
constexpr float kHalfThickness = 5.0f;
constexpr float kTaper = 0.05f; // share of a blade's length at each end that narrows to the tip

// A blade: kStrips bands of triangles between kStrips + 1 cross-sections
// from tip to tip. Sections 0 and kStrips are the tips, single points; the
// ones between are rings of corners.
constexpr int kStrips = 321;
constexpr int kRings = kStrips - 1;
constexpr int kRingCorners = 24;
constexpr int kGrooves = 6;          // around a cross-section, one on each rim
constexpr float kGrooveDepth = 0.7f; // of the local thickness
constexpr int kCornersPerFlute = kRingCorners / kGrooves;
static_assert(kRingCorners % kGrooves == 0, "grooves must fall on ring corners");
static_assert(kGrooves % 2 == 0, "grooves must fall on both rims");

// Index ranges: per blade its positions, then all the groove slots, and per
// blade a grid of texture coordinates.
constexpr int kBladePositions = 2 + kRings * kRingCorners;
constexpr int kBladeGrooveSlots = kRings * kGrooves;
constexpr int kBladeTexCoords = (kStrips + 1) * (kRingCorners + 1);

struct Section {
  Vec3 centre;
  Vec3 outward; // away from the axis, horizontal
  Vec3 up;      // across the blade, roughly world up
  float scale;  // 1 along the blade, falling to 0 at the tips
};

// The blade's middle line is a helix at kMidRadius. Its outward direction is
// perpendicular to the helix, so the cross-section spans the radius straight
// across from the well to the outer edge; (tangent, outward, up) is a
// right-handed frame.
Section bladeSection(int blade, int section) {
  float along = static_cast<float>(section) / kStrips;
  float theta = kTwoPi * (kTurns * along + static_cast<float>(blade) / kBlades);
  float c = std::cos(theta), s = std::sin(theta);
  float turnRate = kTwoPi * kTurns * kMidRadius;
  Vec3 tangent = normalize({-turnRate * s, 2.0f * kHalfHeight, turnRate * c});
  Section result;
  result.centre = {kMidRadius * c, kHalfHeight * (2.0f * along - 1.0f), kMidRadius * s};
  result.outward = {c, 0.0f, s};
  result.up = cross(tangent, result.outward);
  result.scale = std::sqrt(std::min(1.0f, std::min(along, 1.0f - along) / kTaper));
  return result;
}

// A corner of the cross-section as (across, through), each in [-1, 1]:
// corner 0 is on the outer rim, a quarter of the way round is the middle of
// the top face. The faces fall into the grooves with a sharp cusp.
void crossSection(int corner, float& across, float& through) {
  float angle = kTwoPi * static_cast<float>(corner) / kRingCorners;
  float flute = std::abs(std::sin(0.5f * kGrooves * angle));
  across = std::cos(angle);
  through = std::sin(angle) * (1.0f - kGrooveDepth + kGrooveDepth * std::pow(flute, 0.6f));
}

bool onGroove(int corner) {
  return corner % kCornersPerFlute == 0;
}

// Section and corner of a blade to its indices. Corners count on past the
// end of a ring (kRingCorners is corner 0 again) for the texture seam.
struct BladeIndexing {
  int blade;

  int position(int section, int corner) const {
    int base = blade * kBladePositions;
    if (section == 0)
      return base;
    if (section == kStrips)
      return base + kBladePositions - 1;
    return base + 1 + (section - 1) * kRingCorners + corner % kRingCorners;
  }

  // Normal slot of a corner as used by a face of the strip between ring
  // corners `stripCorner` and `stripCorner` + 1. Grooves have a second slot
  // for the strip on their far side, so the two sides are shaded apart.
  int normal(int section, int corner, int stripCorner) const {
    int wrapped = corner % kRingCorners;
    if (section > 0 && section < kStrips && onGroove(wrapped) && wrapped == stripCorner)
      return kBlades * kBladePositions + blade * kBladeGrooveSlots + (section - 1) * kGrooves +
             wrapped / kCornersPerFlute;
    return position(section, corner);
  }

  int texCoord(int section, int corner) const {
    return blade * kBladeTexCoords + section * (kRingCorners + 1) + corner;
  }

  Face face(const int (&corners)[3][2], int stripCorner) const {
    Face result{};
    for (int i = 0; i < 3; ++i) {
      int section = corners[i][0], corner = corners[i][1];
      result.vertexIndex[i] = position(section, corner);
      result.normalIndex[i] = normal(section, corner, stripCorner);
      result.texCoordIndex[i] = texCoord(section, corner);
    }
    return result;
  }
};

void addBladePositions(int blade, MeshData& data) {
  for (int section = 0; section <= kStrips; ++section) {
    Section frame = bladeSection(blade, section);
    if (section == 0 || section == kStrips) {
      data.positions.push_back(frame.centre);
      continue;
    }
    for (int corner = 0; corner < kRingCorners; ++corner) {
      float across, through;
      crossSection(corner, across, through);
      data.positions.push_back(frame.centre + frame.outward * (kHalfWidth * frame.scale * across) +
                               frame.up * (kHalfThickness * frame.scale * through));
    }
  }
}

// With the frame right-handed and corners counted from outward toward up,
// (around) x (along) points out of the blade. At a tip the strip's triangle
// that would have two corners on the tip point is left out.
void addBladeFaces(int blade, MeshData& data) {
  BladeIndexing index{blade};
  for (int section = 0; section < kStrips; ++section) {
    for (int corner = 0; corner < kRingCorners; ++corner) {
      int first[3][2] = {{section, corner}, {section, corner + 1}, {section + 1, corner}};
      int second[3][2] = {{section + 1, corner}, {section, corner + 1}, {section + 1, corner + 1}};
      if (section > 0)
        data.faces.push_back(index.face(first, corner));
      if (section + 1 < kStrips)
        data.faces.push_back(index.face(second, corner));
    }
  }
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

MeshData spiralMesh() {
  MeshData data;
  for (int blade = 0; blade < kBlades; ++blade)
    addBladePositions(blade, data);
  // Texture coordinates run once along and once around each blade; the seam
  // gets its own column so no triangle wraps from 1 back to 0.
  for (int blade = 0; blade < kBlades; ++blade)
    for (int section = 0; section <= kStrips; ++section)
      for (int corner = 0; corner <= kRingCorners; ++corner)
        data.texCoords.push_back(
            {static_cast<float>(section) / kStrips, static_cast<float>(corner) / kRingCorners});
  data.normals.resize(static_cast<size_t>(kBlades * (kBladePositions + kBladeGrooveSlots)));
  for (int blade = 0; blade < kBlades; ++blade)
    addBladeFaces(blade, data);
  fillNormals(data);
  return data;
}

} // namespace assets_gen
