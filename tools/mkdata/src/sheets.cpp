#include "sheets.h"

#include <array>

namespace zt::mkdata {

Image sheet_canvas(int n) {
  const SheetLayout& l = sheet_layout(n);
  return Image(l.width, l.height);
}

std::vector<Sheet> build_sheets() {
  using Draw = Image (*)();
  // Sheet n is drawn by entry n - 1.
  const std::array<Draw, kSheetCount> draw = {
      draw_ball,      draw_hand,   draw_logo,  draw_title,     draw_titlebg,
      draw_menu_icon, draw_target, draw_next2, draw_fragments, draw_font,
      draw_score,     draw_number, draw_judge, draw_pfont,     draw_gravity_x,
      draw_gravity_h, draw_gauge,  draw_rank,  draw_field,     draw_gameover};
  std::vector<Sheet> s;
  s.reserve(kSheetCount);
  for (std::size_t i = 0; i < draw.size(); ++i)
    s.push_back({std::string(kSheetNames[i]), draw[i]()});
  return s;
}

}  // namespace zt::mkdata
