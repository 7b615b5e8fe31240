#include "surfaces.h"

#include "game/glue.h"

namespace zt::win {

namespace {

// The game's own sheet table, with the member names and colour keys the
// display surfaces are made with.
constexpr std::array<SheetCut, 20> cuts_of_the_game_sheets() {
  std::array<SheetCut, 20> cuts{};
  for (int n = 1; n <= kSheetCount; ++n) {
    const SheetLayout& l = sheet_layout(n);
    cuts[static_cast<std::size_t>(n - 1)] = {kSheetNames[static_cast<std::size_t>(n - 1)].data(),
                                             static_cast<std::uint32_t>(sheet_colour_key(n)),
                                             l.width,
                                             l.height,
                                             l.columns,
                                             l.cell_width,
                                             l.cell_height};
  }
  return cuts;
}

}  // namespace

constinit const std::array<SheetCut, 20> kSheetCuts = cuts_of_the_game_sheets();

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
