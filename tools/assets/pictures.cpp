#include "pictures.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace assets_gen {

namespace {

struct Direction {
  float x, y, z;
};

Direction normalised(Direction d) {
  float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  return {d.x / length, d.y / length, d.z / length};
}

float dot(Direction a, Direction b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

// A soft light panel of the studio: its glow falls off with the angle
// between the reflected ray and the panel's direction.
struct Softbox {
  Direction direction;
  Rgb colour;
  float spread; // larger is wider
};

const std::array<Softbox, 4> kSoftboxes = {{
    {normalised({-0.5f, 0.6f, 0.6f}), {1.3f, 1.15f, 0.95f}, 0.06f},
    {normalised({0.85f, 0.15f, -0.25f}), {0.2f, 0.9f, 1.2f}, 0.1f},
    {normalised({0.45f, -0.65f, 0.55f}), {1.1f, 0.25f, 0.8f}, 0.12f},
    {normalised({-0.7f, -0.2f, -0.4f}), {1.0f, 0.6f, 0.15f}, 0.1f},
}};

// The studio around the object: a warm horizon between a deep blue dome
// and a dark violet floor, lit by the softboxes.
Rgb studio(Direction ray) {
  const Rgb horizon{1.0f, 0.5f, 0.3f};
  const Rgb dome{0.08f, 0.14f, 0.55f};
  const Rgb floor{0.22f, 0.04f, 0.3f};
  float elevation = ray.y;
  Rgb colour = elevation >= 0.0f ? mix(horizon, dome, std::pow(elevation, 0.5f))
                                 : mix(horizon, floor, std::pow(-elevation, 0.4f));
  // A thin bright seam where the floor meets the walls.
  colour = colour + Rgb{1.0f, 0.85f, 0.7f} * (0.6f * std::exp(-(elevation * elevation) / 0.002f));
  for (const Softbox& box : kSoftboxes)
    colour = colour + box.colour * std::exp((dot(ray, box.direction) - 1.0f) / box.spread);
  return colour;
}

// Film-like roll-off so bright light saturates smoothly instead of clipping.
Rgb toneMap(Rgb colour) {
  auto curve = [](float value) { return 1.0f - std::exp(-1.4f * value); };
  return {curve(colour.r), curve(colour.g), curve(colour.b)};
}

} // namespace

Image environmentMap(int size) {
  // Near the rim of the disc the reflected ray sweeps the whole studio
  // behind the object within a few texels, which would sparkle along every
  // silhouette; the outer part blends into one bright grazing-angle colour.
  constexpr float kRimStart = 0.86f;
  const Rgb rim = toneMap(studio({0.0f, 0.0f, -1.0f}));
  constexpr int kSubsamples = 3;
  Image image(size, size);
  for (int row = 0; row < size; ++row) {
    for (int column = 0; column < size; ++column) {
      Rgb sum;
      for (int sy = 0; sy < kSubsamples; ++sy) {
        for (int sx = 0; sx < kSubsamples; ++sx) {
          float nx = 2.0f * (column + (sx + 0.5f) / kSubsamples) / size - 1.0f;
          float ny = 2.0f * (row + (sy + 0.5f) / kSubsamples) / size - 1.0f;
          float radius = std::sqrt(nx * nx + ny * ny);
          if (radius >= 1.0f) {
            // No normal maps here; repeating the rim keeps filtering and
            // mipmaps near the edge free of seams.
            sum = sum + rim;
            continue;
          }
          float nz = std::sqrt(1.0f - radius * radius);
          // The eye looks along -z; the reflected ray is d - 2 (d.n) n.
          Direction ray = {2.0f * nz * nx, 2.0f * nz * ny, 2.0f * nz * nz - 1.0f};
          float toRim = std::clamp((radius - kRimStart) / (1.0f - kRimStart), 0.0f, 1.0f);
          sum = sum + mix(toneMap(studio(ray)), rim, toRim * toRim * (3.0f - 2.0f * toRim));
        }
      }
      image(column, row) = sum * (1.0f / (kSubsamples * kSubsamples));
    }
  }
  return image;
}

namespace {

// Overlays cover a 4:3 screen with a square texture: letters are drawn at
// three quarters of their width so they look right once stretched.
constexpr float kScreenSqueeze = 0.75f;

void addGlowingText(Image& image, const Mask& text, int left, int top, Rgb colour, Rgb glow,
                    int glowRadius) {
  constexpr int kMargin = 3;
  Mask padded(text.width + 2 * kMargin * glowRadius, text.height + 2 * kMargin * glowRadius);
  for (int y = 0; y < text.height; ++y)
    for (int x = 0; x < text.width; ++x)
      padded(x + kMargin * glowRadius, y + kMargin * glowRadius) = text.at(x, y);
  image.addMask(blur(padded, glowRadius), left - kMargin * glowRadius, top - kMargin * glowRadius,
                [glow](int, int) { return glow; });
  image.addMask(text, left, top, [colour](int, int) { return colour; });
}

} // namespace

Image logoOverlay(const Font& font, int size) {
  Image image(size, size);
  Mask title = font.render("viriz", size * 3 / 10, kScreenSqueeze);
  int left = (size - title.width) / 2;
  // In the lower part of the screen, leaving the object in the middle clear.
  int top = size * 7 / 10 - title.height / 2;

  // Glow behind the letters, then a cyan-to-magenta fill cut by scan lines.
  const Rgb glow{0.55f, 0.2f, 0.75f};
  Mask halo(title.width + 96, title.height + 96);
  for (int y = 0; y < title.height; ++y)
    for (int x = 0; x < title.width; ++x)
      halo(x + 48, y + 48) = title.at(x, y);
  image.addMask(blur(halo, 12), left - 48, top - 48, [glow](int, int) { return glow; });
  const Rgb topColour{0.3f, 0.95f, 1.0f};
  const Rgb bottomColour{1.0f, 0.3f, 0.85f};
  image.addMask(title, left, top, [&](int, int y) {
    float along = std::clamp(static_cast<float>(y - top) / title.height, 0.0f, 1.0f);
    float scanLine = (y % 5) >= 3 ? 0.35f : 1.0f;
    return mix(topColour, bottomColour, along) * scanLine;
  });

  // A rule under the title that fades out toward both sides.
  int ruleY = top + title.height + size / 40;
  for (int x = 0; x < size; ++x) {
    float offset = (x - size / 2.0f) / (size * 0.42f);
    float fade = std::max(0.0f, 1.0f - offset * offset);
    for (int thickness = 0; thickness < 3; ++thickness)
      if (ruleY + thickness < size)
        image(x, ruleY + thickness) = image(x, ruleY + thickness) + Rgb{0.5f, 0.9f, 1.0f} * fade;
  }
  Mask tagline = font.render("realtime audiovisual demo", size / 20, kScreenSqueeze);
  addGlowingText(image, tagline, (size - tagline.width) / 2, ruleY + size / 40,
                 {0.75f, 0.8f, 0.95f}, {0.2f, 0.3f, 0.6f}, 3);
  return image;
}

Image creditsOverlay(const Font& font, int size) {
  Image image(size, size);
  const Rgb roleColour{1.0f, 0.6f, 0.25f};
  const Rgb nameColour{1.0f, 1.0f, 1.0f};
  const Rgb glow{0.6f, 0.25f, 0.1f};
  const int lineSize = size / 11;
  const int gap = size / 24;
  const int column = size / 2;

  Mask heading = font.render("credits", size / 14, kScreenSqueeze);
  int top = size / 4;
  addGlowingText(image, heading, (size - heading.width) / 2, top, {0.5f, 0.8f, 1.0f},
                 {0.1f, 0.25f, 0.5f}, 4);
  top += heading.height + size / 16;

  constexpr std::array<const char*, 3> kRoles = {"code", "music", "graphics"};
  for (const char* role : kRoles) {
    Mask roleText = font.render(role, lineSize * 3 / 4, kScreenSqueeze);
    Mask nameText = font.render("viriz", lineSize, kScreenSqueeze);
    // Both words sit on one baseline: the role is smaller, so it starts lower.
    int roleTop = top + (nameText.height - roleText.height) * 4 / 5;
    addGlowingText(image, roleText, column - gap / 2 - roleText.width, roleTop, roleColour, glow,
                   4);
    addGlowingText(image, nameText, column + gap / 2, top, nameColour, glow, 5);
    top += nameText.height + size / 60;
  }
  return image;
}

} // namespace assets_gen
