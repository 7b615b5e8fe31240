#include "surfaces.h"

namespace zt::win {

const std::array<SheetCut, 20> kSheetCuts = {{
    {"ball.bmp", 0, 128, 256, 1, 128, 128},   {"hand.bmp", 0, 11, 11, 0, 0, 0},
    {"logo.bmp", 0, 219, 148, 0, 0, 0},       {"title.bmp", 255, 300, 100, 1, 300, 50},
    {"titlebg.bmp", 0, 320, 240, 0, 0, 0},    {"MenuIcon.bmp", 0, 320, 32, 10, 32, 32},
    {"target.bmp", 0, 480, 72, 20, 24, 24},   {"next2.bmp", 0, 480, 72, 20, 24, 24},
    {"fragments.bmp", 0, 90, 54, 5, 18, 18},  {"font.bmp", 0, 288, 36, 24, 12, 12},
    {"score.bmp", 0, 90, 48, 10, 9, 12},      {"number.bmp", 0, 400, 40, 10, 40, 40},
    {"judge.bmp", 0, 60, 150, 1, 60, 30},     {"pfont.bmp", 0, 55, 8, 11, 5, 8},
    {"gravityx.bmp", 0, 250, 120, 5, 50, 60}, {"gravityh.bmp", 0, 250, 120, 5, 50, 60},
    {"gauge.bmp", 0, 300, 30, 1, 300, 15},    {"rank.bmp", 0, 500, 320, 5, 100, 80},
    {"field.bmp", 0, 160, 320, 1, 160, 160},  {"gameover.bmp", 0, 300, 120, 1, 300, 40},
}};

RECT CellRect(int sheet, std::int32_t n, std::int32_t width, std::int32_t height) {
  if (sheet < 1 || sheet > 20 || kSheetCuts[sheet - 1].columns == 0) {
    return RECT{0, 0, width, height};
  }
  const SheetCut& c = kSheetCuts[sheet - 1];
  const std::int32_t left = c.cell_width * (n % c.columns);
  const std::int32_t top = c.cell_height * (n / c.columns);
  if (top >= height) return RECT{0, 0, 0, 0};
  return RECT{left, top, left + c.cell_width, top + c.cell_height};
}

TSurfaces::TSurfaces(TDDDD& display) {
  if (GetFileAttributesA(kArchive) == INVALID_FILE_ATTRIBUTES) {
    throw ESheetsMissing("images.qda not found");
  }
  try {
    // The sheets together, however many of them name one expanding member.
    QdaBudget budget;
    for (std::size_t i = 0; i < kSheetCuts.size(); ++i) {
      const SheetCut& c = kSheetCuts[i];
      sheets_[i] = TDDDDSurface::CreateInSystemMemory(display, c.width, c.height, c.colour_key);
      if (!sheets_[i]->LoadFromArchive(kArchive, c.member, &budget)) {
        throw ESheetsMissing(std::string("could not load ") + c.member);
      }
    }
  } catch (const std::exception& e) {
    throw ESheetsMissing(e.what());
  }
}

TSurfaces::~TSurfaces() = default;

TDDDDSurface* TSurfaces::Sheet(int n) const {
  if (n < 1 || n > 20) return nullptr;
  return sheets_[static_cast<std::size_t>(n - 1)].get();
}

RECT TSurfaces::CellRect(const TDDDDGenSurface& surface, std::int32_t n) const {
  for (int i = 1; i <= 20; ++i) {
    if (Sheet(i) == &surface) return win::CellRect(i, n, surface.Width, surface.Height);
  }
  return RECT{0, 0, surface.Width, surface.Height};
}

}  // namespace zt::win
