#include "contact.h"

#include <algorithm>
#include <string>

#include "pixel_font.h"

namespace zt::mkdata {
namespace {

constexpr int kPad = 6;
constexpr int kLabel = 14;
constexpr int kWidth = 1040;

void label(Image& img, std::string_view text, int x, int y) {
  for (char c : text) {
    char u = c;
    if (u >= 'a' && u <= 'z') u = static_cast<char>(u - 'a' + 'A');
    stamp(
        img, font_glyph(u), x, y, [](char, int) { return ramp(Ramp::Grey, 15); }, ink());
    x += 9;
  }
}

// Small sheets are shown enlarged so their pixels can be judged.
int zoom(const Image& img) {
  if (img.w <= 60 && img.h <= 60) return 4;
  if (img.h <= 60 && img.w <= 300) return 2;
  return 1;
}

Image enlarge(const Image& img, int z) {
  Image out(img.w * z, img.h * z);
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x) out.set(x, y, img.get(x / z, y / z));
  return out;
}

}  // namespace

Image contact_sheet(const std::vector<Sheet>& sheets) {
  // Shelf packing in sheet order. Sheets are copied whole, so entry 0 shows
  // black against the backdrop and each sheet's extent is visible.
  struct Place {
    int x, y;
  };
  std::vector<Place> at;
  int x = kPad, y = kPad, shelf = 0;
  std::vector<Image> shown;
  std::vector<std::string> names;
  for (const Sheet& s : sheets) {
    const int z = zoom(s.image);
    shown.push_back(enlarge(s.image, z));
    names.push_back(z > 1 ? s.name + " X" + std::to_string(z) : s.name);
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const Image& s = shown[i];
    const int w = std::max(s.w, 9 * static_cast<int>(names[i].size()));
    if (x + w + kPad > kWidth) {
      x = kPad;
      y += shelf + kPad;
      shelf = 0;
    }
    at.push_back({x, y});
    x += w + 2 * kPad;
    shelf = std::max(shelf, s.h + kLabel);
  }
  Image img(kWidth, y + shelf + kPad, ramp(Ramp::Steel, 5));
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    label(img, names[i], at[i].x, at[i].y + 1);
    img.blit(shown[i], at[i].x, at[i].y + kLabel, false);
  }
  return img;
}

}  // namespace zt::mkdata
