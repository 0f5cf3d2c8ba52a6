// Text rendered with FreeType into coverage masks.
#pragma once

#include "image.h"

#include <string>

// FreeType's handle types, so that users of Font need not see its headers.
struct FT_LibraryRec_;
struct FT_FaceRec_;

namespace assets_gen {

// The bold sans-serif face that all lettering uses.
inline constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

class Font {
public:
  // Throws std::runtime_error when the file cannot be opened as a font.
  explicit Font(const std::string& path);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  // Renders one line of text with its glyphs `pixelHeight` pixels per em
  // and squeezed horizontally by `widthScale` (overlays are stretched to the
  // screen's 4:3, so they are drawn narrower to come out in proportion).
  // The mask spans the inked pixels across and the font's line height
  // (ascender to descender) down.
  Mask render(const std::string& text, int pixelHeight, float widthScale) const;

private:
  FT_LibraryRec_* library = nullptr;
  FT_FaceRec_* face = nullptr;
};

} // namespace assets_gen
