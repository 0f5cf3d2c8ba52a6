#include "text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>

namespace assets_gen {

Font::Font(const std::string& path) {
  if (FT_Init_FreeType(&library) != 0)
    throw std::runtime_error("cannot start FreeType");
  if (FT_New_Face(library, path.c_str(), 0, &face) != 0) {
    FT_Done_FreeType(library);
    throw std::runtime_error("cannot open the font " + path);
  }
}

Font::~Font() {
  FT_Done_Face(face);
  FT_Done_FreeType(library);
}

namespace {

struct PlacedGlyph {
  Mask coverage;
  int left, top; // of the bitmap, relative to the pen start on the baseline (y down)
};

Mask glyphCoverage(const FT_Bitmap& bitmap) {
  Mask mask(static_cast<int>(bitmap.width), static_cast<int>(bitmap.rows));
  for (int y = 0; y < mask.height; ++y)
    for (int x = 0; x < mask.width; ++x)
      mask(x, y) = bitmap.buffer[y * bitmap.pitch + x] / 255.0f;
  return mask;
}

} // namespace

Mask Font::render(const std::string& text, int pixelHeight, float widthScale) const {
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelHeight)) != 0)
    throw std::runtime_error("font size not available");
  FT_Matrix squeeze = {static_cast<FT_Fixed>(std::lround(widthScale * 65536.0f)), 0, 0, 0x10000};
  FT_Set_Transform(face, &squeeze, nullptr);

  std::vector<PlacedGlyph> glyphs;
  long penX = 0; // 26.6 fixed point
  FT_UInt previous = 0;
  for (unsigned char character : text) {
    FT_UInt index = FT_Get_Char_Index(face, character);
    if (previous != 0 && index != 0 && FT_HAS_KERNING(face)) {
      FT_Vector kerning;
      FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &kerning);
      penX += std::lround(kerning.x * widthScale);
    }
    // The transform is applied to the outline when loading, from the pen's
    // fractional position, so glyphs keep their sub-pixel spacing.
    FT_Vector origin = {penX & 63, 0};
    FT_Set_Transform(face, &squeeze, &origin);
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_NO_HINTING) != 0)
      throw std::runtime_error("cannot render a glyph");
    FT_GlyphSlot slot = face->glyph;
    glyphs.push_back({glyphCoverage(slot->bitmap), static_cast<int>(penX >> 6) + slot->bitmap_left,
                      -slot->bitmap_top});
    penX += slot->advance.x;
    previous = index;
  }

  // Every line of one size gets the same height, from the ascender to the
  // descender, so lines of different words share their baseline position.
  int ascender = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
  int descender = static_cast<int>(face->size->metrics.descender >> 6);
  int minX = INT_MAX, maxX = INT_MIN;
  for (const PlacedGlyph& glyph : glyphs) {
    if (glyph.coverage.width == 0)
      continue;
    minX = std::min(minX, glyph.left);
    maxX = std::max(maxX, glyph.left + glyph.coverage.width);
  }
  if (minX > maxX)
    return Mask();
  Mask line(maxX - minX, ascender - descender);
  for (const PlacedGlyph& glyph : glyphs)
    for (int y = 0; y < glyph.coverage.height; ++y) {
      int lineY = glyph.top + ascender + y;
      if (lineY < 0 || lineY >= line.height)
        continue;
      for (int x = 0; x < glyph.coverage.width; ++x) {
        float& cell = line(glyph.left - minX + x, lineY);
        cell = std::min(1.0f, cell + glyph.coverage.at(x, y));
      }
    }
  return line;
}

} // namespace assets_gen
