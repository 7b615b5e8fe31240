// The 20 sprite sheets, drawn in the master palette.
#pragma once

#include <string>
#include <vector>

#include "canvas.h"
#include "game/glue.h"

namespace zt::mkdata {

struct Sheet {
  std::string name;  // member name in the archive
  Image image;
};

// All 20, in the order the game numbers them.
std::vector<Sheet> build_sheets();

// A clear canvas of sheet n's size.
Image sheet_canvas(int n);

// The sheets one by one, each at the size of the game's sheet table.
Image draw_ball();
Image draw_hand();
Image draw_logo();
Image draw_title();
Image draw_titlebg();
Image draw_menu_icon();
Image draw_target();
Image draw_next2();
Image draw_fragments();
Image draw_font();
Image draw_score();
Image draw_number();
Image draw_judge();
Image draw_pfont();
Image draw_gravity_x();
Image draw_gravity_h();
Image draw_gauge();
Image draw_rank();
Image draw_field();
Image draw_gameover();

// Shape filled by colour(x, y) at pixel centres, ringed by a 1-pixel outline.
Image sprite(int w, int h, const Inside& shape,
             const std::function<std::uint8_t(double x, double y)>& colour, bool outline = true);

// A shaded sphere lit from the top left; v in [0, 1] for the ramp.
double sphere_light(double nx, double ny);

}  // namespace zt::mkdata
