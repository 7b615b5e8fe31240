// The 20 sprite sheets of "images.qda" on display surfaces, and how each is
// cut into cells.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "dddd.h"

namespace zt::win {

struct SheetCut {
  const char* member;
  std::uint32_t colour_key;
  std::int32_t width;
  std::int32_t height;
  std::int32_t columns;  // 0: the whole sheet is one cell
  std::int32_t cell_width;
  std::int32_t cell_height;
};

// Sheet n (1 to 20) is entry n - 1.
extern const std::array<SheetCut, 20> kSheetCuts;

// Cell n of sheet `sheet` (1 to 20), right and bottom exclusive; (0, 0, 0, 0)
// past the last row. Sheets without cells, and any other sheet number, give
// the whole surface of the given size.
RECT CellRect(int sheet, std::int32_t n, std::int32_t width, std::int32_t height);

// Raised when "images.qda" is missing or a sheet cannot be made or loaded;
// the program then ends at once without a message.
class ESheetsMissing : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TSurfaces {
 public:
  static constexpr const char* kArchive = "images.qda";

  explicit TSurfaces(TDDDD& display);
  ~TSurfaces();
  TSurfaces(const TSurfaces&) = delete;
  TSurfaces& operator=(const TSurfaces&) = delete;

  // Sheet 1 to 20, or nullptr.
  TDDDDSurface* Sheet(int n) const;
  // The cell of one of the sheets; for any other surface its whole area.
  RECT CellRect(const TDDDDGenSurface& surface, std::int32_t n) const;

 private:
  std::array<std::unique_ptr<TDDDDSurface>, 20> sheets_;
};

}  // namespace zt::win
