#include "sheets.h"

namespace zt::mkdata {

std::vector<Sheet> build_sheets() {
  std::vector<Sheet> s;
  s.reserve(20);
  s.push_back({"ball.bmp", draw_ball()});
  s.push_back({"hand.bmp", draw_hand()});
  s.push_back({"logo.bmp", draw_logo()});
  s.push_back({"title.bmp", draw_title()});
  s.push_back({"titlebg.bmp", draw_titlebg()});
  s.push_back({"MenuIcon.bmp", draw_menu_icon()});
  s.push_back({"target.bmp", draw_target()});
  s.push_back({"next2.bmp", draw_next2()});
  s.push_back({"fragments.bmp", draw_fragments()});
  s.push_back({"font.bmp", draw_font()});
  s.push_back({"score.bmp", draw_score()});
  s.push_back({"number.bmp", draw_number()});
  s.push_back({"judge.bmp", draw_judge()});
  s.push_back({"pfont.bmp", draw_pfont()});
  s.push_back({"gravityx.bmp", draw_gravity_x()});
  s.push_back({"gravityh.bmp", draw_gravity_h()});
  s.push_back({"gauge.bmp", draw_gauge()});
  s.push_back({"rank.bmp", draw_rank()});
  s.push_back({"field.bmp", draw_field()});
  s.push_back({"gameover.bmp", draw_gameover()});
  return s;
}

}  // namespace zt::mkdata
