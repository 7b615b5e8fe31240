// Hand-set pixel glyphs: the 12 x 12 text font, the score digits and the
// small percent digits, and the routine that stamps such pictures with an
// outline.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "canvas.h"

namespace zt::mkdata {

// Rows of a small picture: '.' empty, any other character a pixel whose
// entry colour(ch, row) picks.
using PixelArt = std::vector<std::string_view>;

// Stamps the art with its top left at (x, y) and rings it with a 1-pixel
// outline: every empty pixel next to a pixel of the art (8-neighbourhood).
void stamp(Image& img, const PixelArt& art, int x, int y,
           const std::function<std::uint8_t(char ch, int row)>& colour, std::uint8_t outline);

// The font's 53 glyphs in sheet order, each 7 wide and 9 high.
inline constexpr std::string_view kFontChars =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ&-!?(),./:edtrpxz";
const PixelArt& font_glyph(char c);

// Score digits 0-9, 5 wide and 9 high; index 10 is the unlit place.
const PixelArt& score_digit(int d);

// Percent digits 0-9, 3 wide and 5 high; index 10 the percent sign.
const PixelArt& percent_glyph(int d);

}  // namespace zt::mkdata
