// Surfaces of the display unit: the wrapper of one DirectDraw surface, the
// application's off-screen surfaces, their keepers and the GDI canvas.
#include <algorithm>
#include <cstring>

#include "dddd.h"
#include "formats/decode_bounds.h"
#include "medialog.h"
#include "qdarc.h"

namespace zt {

void DebugLog(const std::string& Message) {
  if (dddd_log().debug_message) dddd_log().write_line(Message);
}

void DetailedLog(const std::string& Message) {
  if (dddd_log().option2) DebugLog(Message);
}

HRESULT CheckResult(HRESULT Code, const std::string& Message) {
  if (Code == 0) return 0;
  DebugLog(Message + error_code_suffix(Code));
  if (dddd_log().halt_on_error) MediaHalt();
  return Code;
}

namespace {

DDSURFACEDESC2 empty_desc() {
  DDSURFACEDESC2 d;
  std::memset(&d, 0, sizeof d);
  d.dwSize = sizeof d;
  return d;
}

void mask_to_shifts(std::uint32_t mask, int& right, int& left) {
  if (mask == 0) {
    left = 32;
    right = 8;
    return;
  }
  left = 0;
  while (!(mask & (1u << left))) ++left;
  int ones = 0;
  while (left + ones < 32 && (mask & (1u << (left + ones)))) ++ones;
  right = std::max(0, 8 - ones);
}

// A 32-bit signed product as the arithmetic of the clipping expects it.
std::int32_t mul32(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

void normalise(RECT& r) {
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
}

// Clips one axis of a scaled copy; false when nothing is left to draw.
bool clip_scaled(LONG& dst_lo, LONG& dst_hi, LONG& src_lo, LONG& src_hi, LONG bound_lo,
                 LONG bound_hi) {
  if (bound_hi < dst_lo || bound_lo > dst_hi) return false;
  const std::int32_t src_w = src_hi - src_lo;
  const std::int32_t dst_w = dst_hi - dst_lo;
  const LONG src_hi0 = src_hi, dst_hi0 = dst_hi;
  if (dst_hi > bound_hi) {
    src_hi = mul32(bound_hi - dst_lo, src_w) / dst_w + src_lo;
    dst_hi = bound_hi;
  }
  if (dst_lo < bound_lo) {
    src_lo = src_hi0 - mul32(dst_hi0 - bound_lo, src_w) / dst_w;
    dst_lo = bound_lo;
  }
  return true;
}

// Clips one axis of an unscaled copy to position pos.
bool clip_fast(LONG& pos, LONG& src_lo, LONG& src_hi, LONG bound_lo, LONG bound_hi) {
  const LONG dst_hi = pos + (src_hi - src_lo);
  if (bound_hi < pos || bound_lo > dst_hi) return false;
  const LONG src_hi0 = src_hi;
  if (dst_hi > bound_hi) src_hi = bound_hi + src_lo - pos;
  if (pos < bound_lo) {
    src_lo = src_hi0 - (dst_hi - bound_lo);
    pos = bound_lo;
  }
  return true;
}

const char* placement(DWORD caps) {
  if (caps & DDSCAPS_VIDEOMEMORY) {
    if (caps & DDSCAPS_NONLOCALVIDMEM) return "をノンローカルビデオメモリに配置します";
    return "をビデオメモリに配置します";
  }
  if (caps & DDSCAPS_SYSTEMMEMORY) return "をシステムメモリに配置します";
  return "をドライバのデフォルトの位置(おそらくビデオメモリ)に配置します";
}

constexpr char kReadError[] = "LoadBMP中に、読み込みエラーが発生しました";

}  // namespace

std::string placement_text(const char* what, DWORD caps) {
  return std::string(what) + placement(caps);
}

// ---------------------------------------------------------------------------
// TDDDDGenSurface

TDDDDGenSurface::TDDDDGenSurface(TDDDD* Owner, std::int32_t Width, std::int32_t Height)
    : Owner(Owner), Width(Width), Height(Height) {
  Description = empty_desc();
  LockedDescription = empty_desc();
}

TDDDDGenSurface::TDDDDGenSurface(TDDDD* Owner, IDirectDrawSurface7* Surface, std::int32_t Width,
                                 std::int32_t Height)
    : TDDDDGenSurface(Owner, Width, Height) {
  this->Surface = ComRef<IDirectDrawSurface7>(Surface);
  if (Surface) {
    Surface->GetSurfaceDesc(&Description);
  } else {
    Description.dwFlags = DDSD_ALL;
  }
  BuildComposition();
}

void TDDDDGenSurface::BuildComposition() {
  const DDPIXELFORMAT& pf = Description.ddpfPixelFormat;
  const std::uint32_t masks[4] = {pf.dwRGBAlphaBitMask, pf.dwRBitMask, pf.dwGBitMask,
                                  pf.dwBBitMask};
  for (int i = 0; i < 4; ++i) {
    Composition[i].mask = masks[i];
    mask_to_shifts(masks[i], Composition[i].right_shift, Composition[i].left_shift);
  }
  DetailedLog(format("PixelFormat: AMask=%.8x RMask=%.8x GMask=%.8x BMask=%.8x",
                     static_cast<unsigned>(masks[0]), static_cast<unsigned>(masks[1]),
                     static_cast<unsigned>(masks[2]), static_cast<unsigned>(masks[3])));
}

std::uint32_t TDDDDGenSurface::ColorValue(std::uint8_t A, std::uint8_t R, std::uint8_t G,
                                          std::uint8_t B) const {
  const std::uint8_t values[4] = {A, R, G, B};
  std::uint32_t sum = 0;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t v = values[i] >> Composition[i].right_shift;
    if (Composition[i].left_shift < 32) sum += v << Composition[i].left_shift;
  }
  return sum;
}

void TDDDDGenSurface::Lock(DDSURFACEDESC2& Desc) {
  DDSURFACEDESC2 d = empty_desc();
  HRESULT hr = Surface ? Surface->Lock(nullptr, &d, DDLOCK_WAIT, nullptr) : DDERR_SURFACELOST;
  CheckResult(hr, "サーフェスがロックできません");
  Locked = true;
  LockedDescription = d;
  Desc = d;
}

void TDDDDGenSurface::Unlock() {
  HRESULT hr = Surface ? Surface->Unlock(nullptr) : DDERR_SURFACELOST;
  CheckResult(hr, "サーフェスのアンロックに失敗しました");
  Locked = false;
}

bool TDDDDGenSurface::IsLost() {
  return !Surface || Surface->IsLost() != 0;
}

HRESULT TDDDDGenSurface::Restore() {
  if (!Surface) return DDERR_SURFACELOST;
  if (Surface->IsLost() != 0) return Surface->Restore();
  return 0;
}

void TDDDDGenSurface::GetDesc(DDSURFACEDESC2& Desc) {
  DDSURFACEDESC2 d = empty_desc();
  HRESULT hr = Surface ? Surface->GetSurfaceDesc(&d) : DDERR_SURFACELOST;
  CheckResult(hr, "サーフェス情報の取得に失敗しました");
  if (SUCCEEDED(hr)) Description = d;
  Desc = Description;
}

HRESULT TDDDDGenSurface::Blt(TDDDDGenSurface* Source, RECT DestRect, RECT SourceRect, DWORD Flags,
                             DDBLTFX* BltFX) {
  if (!Surface) return DDERR_SURFACELOST;
  IDirectDrawSurface7* src = Source ? Source->Surface.get() : nullptr;
  if (Owner && Owner->Primary.get() == this) {
    return Surface->Blt(&DestRect, src, &SourceRect, Flags, BltFX);
  }
  normalise(DestRect);
  normalise(SourceRect);
  if (!clip_scaled(DestRect.left, DestRect.right, SourceRect.left, SourceRect.right, 0, Width))
    return 0;
  if (!clip_scaled(DestRect.top, DestRect.bottom, SourceRect.top, SourceRect.bottom, 0, Height))
    return 0;
  if (BltFX && Source) {
    if (BltFX->dwDDFX == DDBLTFX_MIRRORLEFTRIGHT) {
      SourceRect = RECT{Source->Width - SourceRect.right, SourceRect.top,
                        Source->Width - SourceRect.left, SourceRect.bottom};
    } else if (BltFX->dwDDFX == DDBLTFX_MIRRORUPDOWN) {
      SourceRect = RECT{SourceRect.left, Source->Height - SourceRect.bottom, SourceRect.right,
                        Source->Height - SourceRect.top};
    }
  }
  return Surface->Blt(&DestRect, src, &SourceRect, Flags, BltFX);
}

HRESULT TDDDDGenSurface::BltRect(TDDDDGenSurface* Source, std::int32_t X, std::int32_t Y,
                                 RECT SourceRect, DWORD Flags) {
  if (!Surface) return DDERR_SURFACELOST;
  normalise(SourceRect);
  LONG x = X, y = Y;
  if (!clip_fast(x, SourceRect.left, SourceRect.right, 0, Width)) return 0;
  if (!clip_fast(y, SourceRect.top, SourceRect.bottom, 0, Height)) return 0;
  return Surface->BltFast(static_cast<DWORD>(x), static_cast<DWORD>(y),
                          Source ? Source->Surface.get() : nullptr, &SourceRect, Flags);
}

void TDDDDGenSurface::FillRect(const RECT& Rect, std::uint32_t Color) {
  DDBLTFX fx;
  std::memset(&fx, 0, sizeof fx);
  fx.dwSize = sizeof fx;
  fx.dwFillColor = Color;
  Blt(nullptr, Rect, Rect, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
}

void TDDDDGenSurface::SetPixel(std::int32_t X, std::int32_t Y, std::uint32_t Color) {
  if (X < 0 || X > Width - 1 || Y < 0 || Y > Height - 1) {
    DebugLog("サーフェス外のピクセルを変更しようとしました");
    return;
  }
  DDSURFACEDESC2 local = empty_desc();
  const DDSURFACEDESC2* d = &LockedDescription;
  bool locked_here = false;
  if (!Locked) {
    if (!Surface || Surface->Lock(nullptr, &local, DDLOCK_WAIT, nullptr) != 0) return;
    d = &local;
    locked_here = true;
  }
  if (d->lpSurface) {
    const int bytes = static_cast<int>(d->ddpfPixelFormat.dwRGBBitCount / 8);
    auto* p = static_cast<std::uint8_t*>(d->lpSurface) +
              static_cast<std::ptrdiff_t>(Y) * d->lPitch + static_cast<std::ptrdiff_t>(X) * bytes;
    if (bytes >= 1 && bytes <= 4) {
      for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(Color >> (8 * i));
    }
  }
  if (locked_here) Surface->Unlock(nullptr);
}

bool TDDDDGenSurface::LoadBMP(TStream& Stream) {
  if (IsLost()) return false;
  BITMAPFILEHEADER fh;
  if (!Stream.ReadExact(&fh, sizeof fh)) {
    DebugLog("ビットマップの読みこみ中に、エラーが発生しました");
    return false;
  }
  if (fh.bfType != 0x4D42) {
    DebugLog("不正なBMPファイルです");
    return false;
  }
  BITMAPINFOHEADER ih;
  if (!Stream.ReadExact(&ih, sizeof ih)) {
    DebugLog(kReadError);
    return false;
  }
  if (ih.biBitCount < 8 || ih.biBitCount > 32) {
    CheckResult(1, "色数が8ビット～32ビットの範囲のビットマップを、LoadBMPには指定してください");
    return false;
  }
  // Larger than any sheet the game draws: its rows would only cost memory.
  // An empty bitmap still just copies no rows.
  const std::int64_t declared_rows = ih.biHeight < 0 ? -std::int64_t{ih.biHeight} : ih.biHeight;
  if (!sheet_size_fits(std::max<std::int64_t>(ih.biWidth, 1),
                       std::max<std::int64_t>(declared_rows, 1))) {
    DebugLog("不正なBMPファイルです");
    return false;
  }
  const DDPIXELFORMAT& pf = Description.ddpfPixelFormat;
  const int dst_bytes =
      (pf.dwFlags & DDPF_PALETTEINDEXED8) ? 1 : static_cast<int>(pf.dwRGBBitCount / 8);
  const int src_bytes = ih.biBitCount / 8;

  if (dst_bytes == 1 && src_bytes > 1) {
    // GDI chooses the palette indices of a deeper picture.
    std::vector<std::uint8_t> file(static_cast<std::size_t>(Stream.Size()));
    Stream.Seek(0);
    bool ok = Stream.ReadExact(file.data(), file.size()) && file.size() >= 54;
    HBITMAP bitmap = nullptr;
    LONG w = 0, h = 0;
    if (ok) {
      BITMAPFILEHEADER f;
      std::memcpy(&f, file.data(), sizeof f);
      BITMAPINFOHEADER hdr;
      std::memcpy(&hdr, file.data() + 14, sizeof hdr);
      w = hdr.biWidth;
      h = hdr.biHeight < 0 ? -hdr.biHeight : hdr.biHeight;
      std::uint64_t row =
          ((static_cast<std::uint64_t>(w < 0 ? 0 : w) * hdr.biBitCount + 31) / 32) * 4;
      std::uint64_t need = row * static_cast<std::uint64_t>(h);
      ok = w > 0 && h > 0 && hdr.biSize >= 40 && f.bfOffBits >= 54 && f.bfOffBits <= file.size() &&
           need <= file.size() - f.bfOffBits;
      if (ok) {
        std::vector<std::uint8_t> info(file.begin() + 14, file.begin() + f.bfOffBits);
        info.resize(
            std::max<std::size_t>(info.size(), sizeof(BITMAPINFOHEADER) + 3 * sizeof(DWORD)));
        HDC screen = GetDC(nullptr);
        void* bits = nullptr;
        bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(info.data()),
                                  DIB_RGB_COLORS, &bits, nullptr, 0);
        ReleaseDC(nullptr, screen);
        if (bitmap && bits) {
          std::memcpy(bits, file.data() + f.bfOffBits, static_cast<std::size_t>(need));
        } else {
          ok = false;
        }
      }
    }
    if (!ok) {
      if (bitmap) DeleteObject(bitmap);
      DebugLog("不正なビットマップです");
      return false;
    }
    HDC dc = nullptr;
    if (CheckResult(Surface->GetDC(&dc), "サーフェスのデバイスコンテキストの取得に失敗しました") !=
        0) {
      DeleteObject(bitmap);
      return false;
    }
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, bitmap);
    BitBlt(dc, 0, 0, w, h, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(bitmap);
    Surface->ReleaseDC(dc);
    return true;
  }

  // The colour table the header declares (0 colours: all 256), never past
  // the pixels; entries it leaves out are black, as the Linux reader has them.
  RGBQUAD table[256] = {};
  const std::uint32_t declared =
      ih.biClrUsed == 0 ? 256 : std::min<std::uint32_t>(ih.biClrUsed, 256);
  const std::uint32_t room = fh.bfOffBits > 54 ? (fh.bfOffBits - 54) / 4 : 0;
  const std::uint32_t colours = std::min(declared, room);
  if (!Stream.ReadExact(table, colours * sizeof(RGBQUAD))) {
    DebugLog(kReadError);
    return false;
  }
  Stream.Seek(fh.bfOffBits);
  const std::int64_t bmp_w = ih.biWidth > 0 ? ih.biWidth : 0;
  const std::int64_t bmp_h = ih.biHeight > 0 ? ih.biHeight : 0;
  const std::int64_t src_row = (bmp_w * src_bytes + 3) / 4 * 4;
  const std::int64_t dst_row = (bmp_w * dst_bytes + 3) / 4 * 4;
  if (src_row > static_cast<std::int64_t>(Stream.Size())) {
    DebugLog(kReadError);
    return false;
  }

  DDSURFACEDESC2 d = empty_desc();
  CheckResult(Surface->Lock(nullptr, &d, DDLOCK_WAIT, nullptr),
              "LoadBMP中にサーフェスがロックできませんでした");
  if (!d.lpSurface) return false;
  const std::int64_t surf_h = d.dwHeight;
  const std::int64_t surf_w = d.dwWidth;
  const std::int64_t rows = std::min(surf_h, bmp_h);
  const std::int64_t pixels = std::min(surf_w, bmp_w);
  std::vector<std::uint8_t> in(static_cast<std::size_t>(src_row));
  std::vector<std::uint8_t> out(static_cast<std::size_t>(dst_row));
  const std::size_t copy = static_cast<std::size_t>(std::min<std::int64_t>(d.lPitch, dst_row));
  bool whole = true;
  for (std::int64_t r = 0; r < rows; ++r) {
    if (!Stream.ReadExact(in.data(), in.size())) {
      DebugLog(kReadError);
      whole = false;
      break;
    }
    if (dst_bytes == 1 && src_bytes == 1) {
      std::copy(in.begin(),
                in.begin() + static_cast<std::ptrdiff_t>(std::min(in.size(), out.size())),
                out.begin());
    } else {
      for (std::int64_t x = 0; x < pixels; ++x) {
        const std::uint8_t* s = in.data() + x * src_bytes;
        std::uint32_t v = 0;
        switch (src_bytes) {
          case 1: {
            const RGBQUAD& q = table[s[0]];
            v = ColorValue(255, q.rgbRed, q.rgbGreen, q.rgbBlue);
            break;
          }
          case 2: {
            const unsigned w = s[0] | (s[1] << 8);
            auto widen5 = [](unsigned c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); };
            v = ColorValue((w & 0x8000) ? 255 : 0, widen5((w >> 10) & 31), widen5((w >> 5) & 31),
                           widen5(w & 31));
            break;
          }
          case 3:
            v = ColorValue(255, s[2], s[1], s[0]);
            break;
          default:
            v = ColorValue(s[3], s[2], s[1], s[0]);
            break;
        }
        std::uint8_t* o = out.data() + x * dst_bytes;
        for (int i = 0; i < dst_bytes && i < 4; ++i) o[i] = static_cast<std::uint8_t>(v >> (8 * i));
      }
    }
    auto* row = static_cast<std::uint8_t*>(d.lpSurface) + (surf_h - 1 - r) * d.lPitch;
    std::memcpy(row, out.data(), copy);
  }
  CheckResult(Surface->Unlock(nullptr), "LoadBMP中にサーフェスがアンロックできませんでした");
  return whole;
}

bool TDDDDGenSurface::LoadFromFile(const std::string& FileName) {
  auto stream = TFileStream::OpenRead(FileName);
  if (!stream) {
    DebugLog(FileName + "が、見つかりません");
    return false;
  }
  return LoadBMP(*stream);
}

bool TDDDDGenSurface::LoadFromArchive(const std::string& ArchiveName, const std::string& MemberName,
                                      QdaBudget* Budget) {
  std::unique_ptr<TMemoryStream> stream;
  try {
    stream = ExtractFromQDA(ArchiveName, MemberName, Budget);
  } catch (const std::exception&) {
    DebugLog("アーカイブからのビットマップの読み取りに失敗しました");
    return false;
  }
  return LoadBMP(*stream);
}

// ---------------------------------------------------------------------------
// TDDDDSurface

TDDDDSurface::TDDDDSurface(TDDDD& Owner, std::int32_t Width, std::int32_t Height,
                           std::uint32_t ColorKey)
    : TDDDDSurface(Owner, Width, Height, ColorKey, Owner.SurfaceLocation) {}

TDDDDSurface::TDDDDSurface(TDDDD& Owner, std::int32_t Width, std::int32_t Height,
                           std::uint32_t ColorKey, TDDDDSurfaceMemoryType MemoryType)
    : TDDDDGenSurface(&Owner, Width, Height) {
  CreateSurface(Owner, Width, Height, ColorKey, MemoryType);
}

std::unique_ptr<TDDDDSurface> TDDDDSurface::CreateInSystemMemory(TDDDD& Owner, std::int32_t Width,
                                                                 std::int32_t Height,
                                                                 std::uint32_t ColorKey) {
  return std::make_unique<TDDDDSurface>(Owner, Width, Height, ColorKey, smtSystemMemory);
}

void TDDDDSurface::CreateSurface(TDDDD& owner, std::int32_t width, std::int32_t height,
                                 std::uint32_t key, TDDDDSurfaceMemoryType type) {
  Surface.reset();
  FileName.clear();
  Description = empty_desc();
  Description.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  Description.dwWidth = static_cast<DWORD>(width);
  Description.dwHeight = static_cast<DWORD>(height);
  constexpr DWORD kSystem = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
  constexpr DWORD kVideo = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
  DWORD caps = kSystem;
  switch (type) {
    case smtDefault:
      caps =
          (owner.BackBuffer && (owner.BackBuffer->Description.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY))
              ? kVideo
              : kSystem;
      break;
    case smtCompatible:
      caps = owner.FullScreen ? DDSCAPS_OFFSCREENPLAIN : kSystem;
      break;
    case smtSystemMemory:
      caps = kSystem;
      break;
    case smtVideoMemory:
      caps = kVideo;
      break;
    case smtNonLocalVideoMemory:
      caps = kVideo | DDSCAPS_NONLOCALVIDMEM;
      break;
  }
  Description.ddsCaps.dwCaps = caps;
  DetailedLog(placement_text("サーフェス", caps));
  HRESULT hr = owner.DirectDraw
                   ? owner.DirectDraw->CreateSurface(&Description, Surface.put(), nullptr)
                   : DDERR_NOTINITIALIZED;
  if (hr != 0) {
    Description.ddsCaps.dwCaps = kSystem;
    hr = owner.DirectDraw ? owner.DirectDraw->CreateSurface(&Description, Surface.put(), nullptr)
                          : DDERR_NOTINITIALIZED;
    CheckResult(hr, "サーフェスを作れませんでした");
  }
  if (Surface) {
    DDCOLORKEY ck{key, key};
    Surface->SetColorKey(DDCKEY_SRCBLT, &ck);
    DDSURFACEDESC2 d;
    GetDesc(d);
  }
  Width = width;
  Height = height;
  ColorKey = key;
  owner.AddSurface(*this);
  BuildComposition();
}

TDDDDSurface::~TDDDDSurface() {
  try {
    if (Surface)
      CheckResult(static_cast<HRESULT>(Surface.release()), "サーフェスの解放に失敗しました");
    if (Owner) Owner->RemoveSurface(*this);
  } catch (...) {
    // A log that cannot be written must not end the program from a destructor.
  }
}

bool TDDDDSurface::LoadFromFile(const std::string& Name) {
  FileName = Name;
  SourceKind = 0;
  return TDDDDGenSurface::LoadFromFile(Name);
}

bool TDDDDSurface::LoadFromArchive(const std::string& Archive, const std::string& Member,
                                   QdaBudget* Budget) {
  ArchiveName = Archive;
  MemberName = Member;
  SourceKind = 1;
  return TDDDDGenSurface::LoadFromArchive(Archive, Member, Budget);
}

void TDDDDSurface::Reload() {
  if (SourceKind == 1 && !ArchiveName.empty()) {
    LoadFromArchive(ArchiveName, MemberName);
  } else if (SourceKind == 0 && !FileName.empty()) {
    LoadFromFile(FileName);
  }
}

// ---------------------------------------------------------------------------
// TDDDDSurfaceKeeper

int TDDDDSurfaceKeeper::Index() const {
  return Owner.IndexOfKeeper(*this);
}

void TDDDDSurfaceKeeper::Restore() {
  if (!Surface.Surface || Surface.Surface->IsLost() == 0) return;
  Surface.Surface->Restore();
  DetailedLog("サーフェスを復元します");
  Surface.Reload();
}

void TDDDDSurfaceKeeper::Rebuild() {
  Surface.Description.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  DetailedLog(format("%d番のサーフェスを再構築します", Index()));
  IDirectDraw7* dd = Owner.DirectDraw.get();
  HRESULT hr = dd ? dd->CreateSurface(&Surface.Description, Surface.Surface.put(), nullptr)
                  : DDERR_NOTINITIALIZED;
  if (hr != 0) {
    DetailedLog("システムメモリにサーフェスを再構築します");
    Surface.Description.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    hr = dd ? dd->CreateSurface(&Surface.Description, Surface.Surface.put(), nullptr)
            : DDERR_NOTINITIALIZED;
    CheckResult(hr, "サーフェスを作れませんでした");
  }
  if (!Surface.Surface) return;
  DDCOLORKEY ck{Surface.ColorKey, Surface.ColorKey};
  Surface.Surface->SetColorKey(DDCKEY_SRCBLT, &ck);
  DDSURFACEDESC2 d;
  Surface.GetDesc(d);
  // A new display mode may bring a new pixel format.
  Surface.BuildComposition();
  Surface.Reload();
}

void TDDDDSurfaceKeeper::ReleaseSurface() {
  DetailedLog(format("DirectDrawオブジェクトの解放に伴い、%d番のサーフェスを解放します", Index()));
  Surface.Surface.release();
}

// ---------------------------------------------------------------------------
// TDDDDCanvas

TDDDDCanvas::TDDDDCanvas(TDDDDGenSurface& Surface)
    : Valid(!Surface.IsLost()), surface_(Surface.Surface.get()) {}

TDDDDCanvas::~TDDDDCanvas() {
  if (dc_) {
    surface_->ReleaseDC(dc_);
    dc_ = nullptr;
  }
}

HDC TDDDDCanvas::Handle() {
  if (!dc_) CreateHandle();
  return dc_;
}

void TDDDDCanvas::CreateHandle() {
  if (dc_) return;
  Valid = surface_ && surface_->GetDC(&dc_) == 0;
  if (!Valid) dc_ = nullptr;
}

}  // namespace zt
