#include "win_host.h"

#include <algorithm>
#include <cstring>

#include "formats/bmp.h"
#include "getkey.h"
#include "text_codec.h"

namespace zt::win {

namespace {

// Names tried for one screenshot before it counts as failed.
constexpr std::int64_t kScreenshotTries = 100000;

bool source_inside(const TDDDDGenSurface& s, std::int32_t x, std::int32_t y, std::int32_t w,
                   std::int32_t h) {
  return w > 0 && h > 0 && x >= 0 && y >= 0 && std::int64_t{x} + w <= s.Width &&
         std::int64_t{y} + h <= s.Height;
}

Palette palette_of(const std::array<PALETTEENTRY, 256>& entries) {
  Palette p{};
  for (std::size_t i = 0; i < 256; ++i) {
    const PALETTEENTRY& e = entries[i];
    p[4 * i] = e.peRed;
    p[4 * i + 1] = e.peGreen;
    p[4 * i + 2] = e.peBlue;
    p[4 * i + 3] = e.peFlags;
  }
  return p;
}

}  // namespace

double LocalDateTimeNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  const std::uint64_t t = (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  // 100 ns units since 1601-01-01; 1899-12-30 is 109205 days later.
  const std::uint64_t ms = t / 10000;
  const std::uint64_t day_ms = 86400000;
  return static_cast<double>(ms / day_ms) - 109205.0 +
         static_cast<double>(ms % day_ms) / static_cast<double>(day_ms);
}

WinHost::WinHost(TDDDD& display, TSurfaces* sheets, TSounds* sounds, BgmBackend& music)
    : display_(display), sheets_(sheets), sounds_(sounds), music_(music) {
  frame_ = TDDDDSurface::CreateInSystemMemory(display, kFieldWidth, kFieldHeight, 0);
  frame_->FillRect(RECT{0, 0, kFieldWidth, kFieldHeight}, 0);
  picture_ = TDDDDSurface::CreateInSystemMemory(display, kFieldWidth, kFieldHeight, 0);
}

WinHost::~WinHost() {
  close();
}

TDDDDGenSurface* WinHost::surface(SurfaceId id) {
  switch (surface_kind(id)) {
    case kKindFrame:
      return frame_.get();
    case kKindPicture:
      return picture_.get();
    case kKindPresent:
      return display_.Primary.get();
    case kKindSheet:
      return sheets_ ? sheets_->Sheet(sheet_number(id)) : nullptr;
    case kKindScratch: {
      const auto it = scratch_.find(scratch_serial(id));
      return it == scratch_.end() ? nullptr : it->second.get();
    }
    default:
      return nullptr;
  }
}

void WinHost::dd_pixelate(SurfaceId id, std::int32_t block) {
  TDDDDGenSurface* s = surface(id);
  if (s == nullptr || s->IsLost() || s->Width <= 0 || s->Height <= 0) return;
  const std::int64_t b = block <= 0 ? 5 : block;
  const std::int64_t across = (s->Width + b - 1) / b;
  const std::int64_t down = (s->Height + b - 1) / b;
  std::vector<std::uint8_t> samples(static_cast<std::size_t>(across * down));
  DDSURFACEDESC2 d;
  s->Lock(d);
  const auto* base = static_cast<const std::uint8_t*>(d.lpSurface);
  for (std::int64_t r = 0; r < down; ++r) {
    for (std::int64_t c = 0; c < across; ++c) {
      samples[static_cast<std::size_t>(r * across + c)] = base[r * b * d.lPitch + c * b];
    }
  }
  s->Unlock();
  for (std::int64_t r = 0; r < down; ++r) {
    for (std::int64_t c = 0; c < across; ++c) {
      const RECT rc{static_cast<LONG>(c * b), static_cast<LONG>(r * b),
                    static_cast<LONG>(std::min<std::int64_t>((c + 1) * b, s->Width)),
                    static_cast<LONG>(std::min<std::int64_t>((r + 1) * b, s->Height))};
      s->FillRect(rc, samples[static_cast<std::size_t>(r * across + c)]);
    }
  }
}

void WinHost::dd_blit_rect(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                           std::int32_t w, std::int32_t h, std::int32_t dx, std::int32_t dy,
                           bool keyed) {
  if (same_surface(dst, src)) return;
  TDDDDGenSurface* d = surface(dst);
  TDDDDGenSurface* s = surface(src);
  if (d == nullptr || s == nullptr || !source_inside(*s, sx, sy, w, h)) return;
  const DWORD flags = DDBLTFAST_WAIT | (keyed ? DDBLTFAST_SRCCOLORKEY : DDBLTFAST_NOCOLORKEY);
  d->BltRect(s, dx, dy, RECT{sx, sy, sx + w, sy + h}, flags);
}

void WinHost::dd_fill_rect(SurfaceId id, std::int32_t x, std::int32_t y, std::int32_t w,
                           std::int32_t h, std::uint8_t colour) {
  TDDDDGenSurface* s = surface(id);
  if (s == nullptr || w <= 0 || h <= 0) return;
  const auto clamp = [](std::int64_t v, std::int64_t hi) {
    return static_cast<LONG>(std::max<std::int64_t>(0, std::min(v, hi)));
  };
  const RECT rc{clamp(x, s->Width), clamp(y, s->Height), clamp(std::int64_t{x} + w, s->Width),
                clamp(std::int64_t{y} + h, s->Height)};
  if (rc.right <= rc.left || rc.bottom <= rc.top) return;
  s->FillRect(rc, colour);
}

void WinHost::free_surface(SurfaceId id) {
  if (surface_kind(id) == kKindScratch) scratch_.erase(scratch_serial(id));
}

Size WinHost::surface_size(SurfaceId id) {
  TDDDDGenSurface* s = surface(id);
  return s ? Size{s->Width, s->Height} : Size{};
}

SurfaceId WinHost::create_scratch(std::int32_t w, std::int32_t h) {
  const std::uint32_t serial = next_serial_++;
  if (w > 0 && h > 0) {
    auto s = TDDDDSurface::CreateInSystemMemory(display_, w, h, 0);
    s->FillRect(RECT{0, 0, w, h}, 0);
    scratch_[serial] = std::move(s);
  }
  return scratch_id(serial);
}

void WinHost::dd_blit_rect_to(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                              std::int32_t sw, std::int32_t sh, std::int32_t dx, std::int32_t dy,
                              std::int32_t dw, std::int32_t dh, bool keyed) {
  if (same_surface(dst, src)) return;
  TDDDDGenSurface* d = surface(dst);
  TDDDDGenSurface* s = surface(src);
  if (d == nullptr || s == nullptr || dw <= 0 || dh <= 0 || !source_inside(*s, sx, sy, sw, sh)) {
    return;
  }
  const DWORD flags = DDBLT_WAIT | (keyed ? DDBLT_KEYSRC : 0);
  d->Blt(s, RECT{dx, dy, dx + dw, dy + dh}, RECT{sx, sy, sx + sw, sy + sh}, flags, nullptr);
}

std::optional<Palette> WinHost::load_named_into(SurfaceId id, std::string_view name) {
  if (surface(id) == nullptr) return std::nullopt;
  // Only the colour table is taken: the picture itself is never shown.
  display_.LoadPaletteFromArchive(TSurfaces::kArchive, std::string(name));
  return palette_of(display_.PaletteEntries);
}

void WinHost::realize_palette(const Palette& p) {
  for (std::size_t i = 0; i < 256; ++i) {
    display_.PaletteEntries[i] = PALETTEENTRY{p[4 * i], p[4 * i + 1], p[4 * i + 2], p[4 * i + 3]};
  }
  display_.UpdatePalette();
}

bool WinHost::save_screenshot(SurfaceId id, const Palette&, std::int32_t n) {
  TDDDDGenSurface* s = surface(id);
  if (s == nullptr) return true;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(s->Width) *
                                   static_cast<std::size_t>(s->Height));
  DDSURFACEDESC2 d;
  s->Lock(d);
  for (std::int32_t y = 0; y < s->Height; ++y) {
    std::memcpy(pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(s->Width),
                static_cast<const std::uint8_t*>(d.lpSurface) + y * d.lPitch,
                static_cast<std::size_t>(s->Width));
  }
  s->Unlock();
  // The colours are the display's, whatever the game asked for.
  const std::optional<std::vector<std::uint8_t>> bytes =
      bmp::bmp_indexed_bytes(s->Width, s->Height, pixels, palette_of(display_.PaletteEntries));
  if (!bytes) return true;
  // Earlier pictures stay: the number moves past every name that is taken.
  const auto written = write_new_file(
      ScreenshotName, std::max<std::int64_t>(n, last_screenshot_ + 1), kScreenshotTries,
      std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!std::holds_alternative<std::int64_t>(written)) return true;
  last_screenshot_ = std::get<std::int64_t>(written);
  return false;
}

std::wstring WinHost::ScreenshotName(std::int64_t k) {
  return L"ScrSht" + std::to_wstring(k) + L".bmp";
}

bool WinHost::surface_lost(SurfaceId id) {
  TDDDDGenSurface* s = surface(id);
  return s != nullptr && s->IsLost();
}

void WinHost::dd_plot(SurfaceId id, std::int32_t x, std::int32_t y, std::uint8_t colour) {
  TDDDDGenSurface* s = surface(id);
  if (s == nullptr || x < 0 || y < 0 || x >= s->Width || y >= s->Height) return;
  s->SetPixel(x, y, colour);
}

bool WinHost::key_down(std::int32_t code) {
  return GetKey(code);
}

void WinHost::clear_key(std::int32_t code) {
  GetKey(code);
}

Point WinHost::mouse_pos() {
  const POINT p = cursor.get();
  return {p.x, p.y};
}

void WinHost::warp_mouse(std::int32_t x, std::int32_t y) {
  cursor.set(x, y);
}

void WinHost::play_sound(std::string_view name, std::int32_t priority) {
  if (sounds_) sounds_->Play(name, priority);
}

std::string WinHost::ReplayPath(std::int32_t slot) {
  return "Rec\\Rec" + std::to_string(slot) + ".dat";
}

bool WinHost::file_exists(std::int32_t slot) {
  const DWORD a = GetFileAttributesA(ReplayPath(slot).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WinHost::open_for_read(std::int32_t slot) {
  close();
  file_ = CreateFileA(ReplayPath(slot).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) {
    // A read-only file can still be replayed; its header stays as it is.
    file_ = CreateFileA(ReplayPath(slot).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    file_read_only_ = file_ != INVALID_HANDLE_VALUE;
  }
  // Only a file on a disk is a replay: a pipe or a device would hold the
  // game on its first read.
  if (file_ != INVALID_HANDLE_VALUE && GetFileType(file_) != FILE_TYPE_DISK) close();
  return file_ == INVALID_HANDLE_VALUE;
}

bool WinHost::seek_from_end(std::int64_t offset) {
  if (open_file() == INVALID_HANDLE_VALUE) return true;
  LARGE_INTEGER d;
  d.QuadPart = offset;
  return !SetFilePointerEx(open_file(), d, nullptr, FILE_END);
}

bool WinHost::open_for_write(std::int32_t slot) {
  close();
  auto begun = FileReplacement::begin(from_code_page(ReplayPath(slot), CP_ACP));
  if (!std::holds_alternative<FileReplacement>(begun)) return true;
  recording_ = std::move(std::get<FileReplacement>(begun));
  return false;
}

bool WinHost::seek_from_start(std::int64_t offset) {
  if (open_file() == INVALID_HANDLE_VALUE || offset < 0) return true;
  LARGE_INTEGER d;
  d.QuadPart = offset;
  return !SetFilePointerEx(open_file(), d, nullptr, FILE_BEGIN);
}

std::optional<std::vector<std::uint8_t>> WinHost::read(std::size_t length) {
  if (open_file() == INVALID_HANDLE_VALUE || length > 0x7FFFFFFF) return std::nullopt;
  std::vector<std::uint8_t> b(length);
  DWORD got = 0;
  if (!ReadFile(open_file(), b.data(), static_cast<DWORD>(length), &got, nullptr) ||
      got != length) {
    return std::nullopt;
  }
  return b;
}

void WinHost::close() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  file_read_only_ = false;
  recording_.reset();
}

bool WinHost::write(const std::vector<std::uint8_t>& bytes) {
  if (open_file() == INVALID_HANDLE_VALUE) return true;
  DWORD put = 0;
  return !WriteFile(open_file(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) ||
         put != bytes.size();
}

bool WinHost::commit() {
  if (!recording_) return true;
  const bool failed = recording_->commit().has_value();
  recording_.reset();
  return failed;
}

bool WinHost::file_exists(std::string_view name) {
  const std::string path = std::string(name) + ".mid";
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace zt::win
