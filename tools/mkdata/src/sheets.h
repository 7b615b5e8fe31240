// The 20 sprite sheets, drawn in the master palette.
#pragma once

#include <string>
#include <vector>

#include "canvas.h"

namespace zt::mkdata {

struct Sheet {
  std::string name;  // member name in the archive
  Image image;
};

// All 20, in the order the game numbers them.
std::vector<Sheet> build_sheets();

// The sheets one by one (sizes fixed by the game's cell layout).
Image draw_ball();       // 128 x 256
Image draw_hand();       // 11 x 11
Image draw_logo();       // 219 x 148
Image draw_title();      // 300 x 100
Image draw_titlebg();    // 320 x 240
Image draw_menu_icon();  // 320 x 32
Image draw_target();     // 480 x 72
Image draw_next2();      // 480 x 72
Image draw_fragments();  // 90 x 54
Image draw_font();       // 288 x 36
Image draw_score();      // 90 x 48
Image draw_number();     // 400 x 40
Image draw_judge();      // 60 x 150
Image draw_pfont();      // 55 x 8
Image draw_gravity_x();  // 250 x 120
Image draw_gravity_h();  // 250 x 120
Image draw_gauge();      // 300 x 30
Image draw_rank();       // 500 x 320
Image draw_field();      // 160 x 320
Image draw_gameover();   // 300 x 120

// Shape filled by colour(x, y) at pixel centres, ringed by a 1-pixel outline.
Image sprite(int w, int h, const Inside& shape,
             const std::function<std::uint8_t(double x, double y)>& colour, bool outline = true);

// A shaded sphere lit from the top left; v in [0, 1] for the ramp.
double sphere_light(double nx, double ny);

}  // namespace zt::mkdata
