// The display component: DirectDraw object, display mode, primary surface
// and back buffer, clipper, palette, and the surfaces it keeps alive.
#include "dddd.h"

#include <cstring>

#include "medialog.h"
#include "qdarc.h"
#include "text_codec.h"

namespace zt {

std::string placement_text(const char* what, DWORD caps);

namespace {

constexpr wchar_t kHookProp[] = L"ZtDDDDHook";

DDSURFACEDESC2 empty_desc() {
  DDSURFACEDESC2 d;
  std::memset(&d, 0, sizeof d);
  d.dwSize = sizeof d;
  return d;
}

std::string driver_entry(const char* description, const char* name) {
  return format("%s (%s)", from_ansi(description).c_str(), from_ansi(name).c_str());
}

BOOL WINAPI list_driver(GUID*, LPSTR description, LPSTR name, LPVOID context) {
  auto* list = static_cast<std::vector<std::string>*>(context);
  std::string entry = driver_entry(description, name);
  DetailedLog(format("Enumerated DDraw Driver ... %s", entry.c_str()));
  list->push_back(entry);
  return TRUE;
}

struct DriverFind {
  std::string wanted;
  bool found = false;
  bool has_guid = false;
  GUID guid{};
  std::string entry;
};

BOOL WINAPI find_driver(GUID* guid, LPSTR description, LPSTR name, LPVOID context) {
  auto* f = static_cast<DriverFind*>(context);
  std::string entry = driver_entry(description, name);
  if (entry != f->wanted) return TRUE;
  f->found = true;
  f->has_guid = guid != nullptr;
  if (guid) f->guid = *guid;
  f->entry = entry;
  return FALSE;
}

struct SecondaryDriver {
  GUID guid;
  std::string description;
};

BOOL WINAPI list_secondary(GUID* guid, LPSTR description, LPSTR, LPVOID context) {
  if (guid) {
    static_cast<std::vector<SecondaryDriver>*>(context)->push_back({*guid, from_ansi(description)});
  }
  return TRUE;
}

HRESULT WINAPI collect_mode(LPDDSURFACEDESC2 desc, LPVOID context) {
  auto* modes = static_cast<std::vector<DDSURFACEDESC2>*>(context);
  modes->push_back(*desc);
  return modes->size() >= 256 ? DDENUMRET_CANCEL : DDENUMRET_OK;
}

}  // namespace

TDDDD::TDDDD(TMediaForm& Owner) : TComponent(Owner) {
  previous_on_paint_ = Owner.OnPaint;
  Owner.OnPaint = [this](TMediaForm& f) { FormPaintHook(f); };
  previous_on_create_ = Owner.OnCreate;
  Owner.OnCreate = [this](TMediaForm& f) { FormCreateHook(f); };
  SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &screen_saver_was_active_, 0);
  DirectDrawEnumerateA(list_driver, &DriverList);
}

TDDDD::~TDDDD() {
  try {
    Destroying = true;
    DriverList.clear();
    SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, screen_saver_was_active_, nullptr,
                          SPIF_SENDWININICHANGE);
    if (OnDestroy) OnDestroy(*this);
    ReleaseAll();
  } catch (...) {
    // A log that cannot be written must not end the program from a destructor.
  }
  UnsubclassWindow();
  // Surfaces that outlive their display must not reach back into it.
  for (auto& k : SurfaceList) k->Surface.Owner = nullptr;
  SurfaceList.clear();
  TextureList.clear();
  if (window_palette_) DeleteObject(window_palette_);
  Owner().OnPaint = previous_on_paint_;
  Owner().OnCreate = previous_on_create_;
  if (d3drm_module_) FreeLibrary(d3drm_module_);
}

void TDDDD::Loaded() {
  SetDisableScreenSaver(disable_screen_saver_);
  dddd_log().apply(debug_option_.bits());
}

void TDDDD::SetDebugOption(TDDDDDebugOptions Value) {
  debug_option_ = Value;
  dddd_log().apply(Value.bits());
}

void TDDDD::SetDisableScreenSaver(bool Value) {
  disable_screen_saver_ = Value;
  SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, Value ? FALSE : TRUE, nullptr,
                        SPIF_SENDWININICHANGE);
}

int TDDDD::DisplayBitsPerPixel() const {
  HDC dc = GetDC(nullptr);
  int bits = GetDeviceCaps(dc, BITSPIXEL);
  ReleaseDC(nullptr, dc);
  return bits;
}

int TDDDD::IndexOfKeeper(const TDDDDSurfaceKeeper& Keeper) const {
  for (std::size_t i = 0; i < SurfaceList.size(); ++i) {
    if (SurfaceList[i].get() == &Keeper) return static_cast<int>(i);
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Form hooks

void TDDDD::FormCreateHook(TMediaForm& Sender) {
  WindowHandle = Owner().Handle();
  const int desktop = DisplayBitsPerPixel();
  if (AutoDisplayModeInitialize && !InitializeFullScreen && InitialBitDepth != 0 &&
      desktop != InitialBitDepth) {
    std::wstring caption(256, L'\0');
    caption.resize(static_cast<std::size_t>(
        GetWindowTextW(WindowHandle, caption.data(), static_cast<int>(caption.size()))));
    MessageBoxW(
        WindowHandle,
        utf8_to_wide(
            format("画面モードが不適切です。色数を %d ビットに設定して、起動しなおしてください。",
                   InitialBitDepth))
            .c_str(),
        caption.c_str(), MB_OK | MB_ICONWARNING);
    MediaHalt();
  }
  InitializeDirectDraw(false, 128, 128, desktop, 0, "");
  if (AutoDisplayModeInitialize) {
    ScreenWidth = InitialScreenWidth;
    ScreenHeight = InitialScreenHeight;
    FullScreen = InitializeFullScreen;
    BitDepth = InitialBitDepth;
  }
  if (NotInitialised) {
    NotInitialised = false;
    bool need_change = true;
    if (AutoDisplayModeInitialize) {
      need_change = FullScreen && !ModeAvailable(ScreenWidth, ScreenHeight, BitDepth, 0);
      if (!need_change)
        InitializeDirectDraw(FullScreen, ScreenWidth, ScreenHeight, BitDepth, 0, "");
    }
    if (previous_on_create_) previous_on_create_(Sender);
    InitDone = true;
    if (OnInit) OnInit(*this, need_change);
    SubclassWindow();
  }
}

void TDDDD::FormPaintHook(TMediaForm& Sender) {
  if (!Owner().Active()) return;
  if (previous_on_paint_) previous_on_paint_(Sender);
  if (Busy) return;
  Restore();
  UpdatePalette();
  if (OnRestore) OnRestore(*this);
}

void TDDDD::SubclassWindow() {
  if (!WindowHandle) return;
  hooked_window_ = WindowHandle;
  SetPropW(hooked_window_, kHookProp, this);
  previous_wndproc_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
      hooked_window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TDDDD::HookProc)));
}

void TDDDD::UnsubclassWindow() {
  if (!hooked_window_) return;
  if (IsWindow(hooked_window_)) {
    if (GetWindowLongPtrW(hooked_window_, GWLP_WNDPROC) ==
        reinterpret_cast<LONG_PTR>(&TDDDD::HookProc)) {
      SetWindowLongPtrW(hooked_window_, GWLP_WNDPROC,
                        reinterpret_cast<LONG_PTR>(previous_wndproc_));
    }
    RemovePropW(hooked_window_, kHookProp);
  }
  hooked_window_ = nullptr;
  previous_wndproc_ = nullptr;
}

LRESULT CALLBACK TDDDD::HookProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* self = static_cast<TDDDD*>(GetPropW(hwnd, kHookProp));
  if (!self) return DefWindowProcW(hwnd, msg, wparam, lparam);
  return self->WindowProcHook(msg, wparam, lparam);
}

LRESULT TDDDD::WindowProcHook(UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case WM_MOVE: {
      const int x = static_cast<short>(LOWORD(lParam));
      const int y = static_cast<short>(HIWORD(lParam));
      if (FullScreen && (x != 0 || y != 0)) Owner().SetLeftTop(0, 0);
      break;
    }
    case WM_SIZE:
      if (FullScreen && Owner().Maximized()) {
        Owner().SetWindowStateNormal();
        Owner().SetSize(ScreenWidth, ScreenHeight);
      }
      break;
    case WM_GETMINMAXINFO:
      if (FullScreen) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMaxSize = POINT{ScreenWidth, ScreenHeight};
        info->ptMinTrackSize = POINT{ScreenWidth, ScreenHeight};
        info->ptMaxTrackSize = POINT{ScreenWidth, ScreenHeight};
        info->ptMaxPosition = POINT{0, 0};
      }
      break;
    case WM_ENTERMENULOOP:
      EnterMenuLoop();
      if (OnEnterMenuLoop) OnEnterMenuLoop(*this);
      break;
    case WM_EXITMENULOOP:
      if (OnExitMenuLoop) OnExitMenuLoop(*this);
      break;
    case WM_PALETTECHANGED:
      UpdatePalette();
      break;
    default:
      break;
  }
  return CallWindowProcW(previous_wndproc_, hooked_window_, Msg, wParam, lParam);
}

void TDDDD::EnterMenuLoop() {
  if (!FullScreen) return;
  Owner().SetBounds(0, 0, ScreenWidth, ScreenHeight);
  if (DirectDraw) DirectDraw->FlipToGDISurface();
  DrawMenuBar(WindowHandle);
  RedrawWindow(WindowHandle, nullptr, nullptr, RDW_FRAME);
}

// ---------------------------------------------------------------------------
// Set-up

void TDDDD::Initialize(std::int32_t Width, std::int32_t Height, std::int32_t Depth,
                       std::int32_t Refresh, const std::string& DriverName) {
  InitializeDirectDraw(true, Width, Height, Depth, Refresh, DriverName);
}

bool TDDDD::CreateDirectDraw(GUID* Guid) {
  HRESULT hr = DirectDrawCreateEx(Guid, DirectDraw.put_void(), IID_IDirectDraw7, nullptr);
  CheckResult(hr, "DirectDrawオブジェクトが作成できません");
  DetailedLog("DirectDrawオブジェクトを作成しました");
  return hr == 0;
}

void TDDDD::InitializeDirectDraw(bool Full, std::int32_t Width, std::int32_t Height,
                                 std::int32_t Depth, std::int32_t Refresh,
                                 const std::string& DriverName) {
  DetailedLog(
      format("スクリーンモード%d x %d x %d として初期化を開始します", Width, Height, Depth));
  if (Full) Owner().Show();
  Busy = true;
  ReleaseAll();
  if (hooked_window_ && Owner().Handle() != hooked_window_) {
    UnsubclassWindow();
    WindowHandle = Owner().Handle();
    SubclassWindow();
  }
  WindowHandle = Owner().Handle();

  if (!Full) {
    DetailedLog("ウィンドウモードで初期化を開始します");
    CreateDirectDraw(nullptr);
  } else {
    DetailedLog("フルスクリーンで初期化を開始します");
    if (!DriverName.empty()) {
      DetailedLog("指定されたドライバ " + DriverName + " を使用します");
      DriverFind f;
      f.wanted = DriverName;
      DirectDrawEnumerateA(find_driver, &f);
      bool created = false;
      if (f.found) {
        GUID guid = f.guid;
        if (DirectDrawCreateEx(f.has_guid ? &guid : nullptr, DirectDraw.put_void(),
                               IID_IDirectDraw7, nullptr) == 0) {
          created = true;
          DetailedLog("DirectDrawオブジェクトを作成しました");
          DetailedLog(format("Created DDraw Driver ... %s %p", f.entry.c_str(),
                             static_cast<void*>(DirectDraw.get())));
        }
      }
      if (!created) {
        DetailedLog("指定されたドライバが見つからなかったので、デフォルトのドライバを使用します");
        CreateDirectDraw(nullptr);
      }
    } else {
      DetailedLog("デフォルトのドライバを使用します");
      bool adopted = false;
      if (Use3D) {
        std::vector<SecondaryDriver> drivers;
        DirectDrawEnumerateA(list_secondary, &drivers);
        for (SecondaryDriver& d : drivers) {
          DetailedLog(format("Enumerated DDraw Driver ... %s", d.description.c_str()));
          ComRef<IDirectDraw7> test;
          HRESULT hr = DirectDrawCreateEx(&d.guid, test.put_void(), IID_IDirectDraw7, nullptr);
          if (CheckResult(hr, "DirectDrawオブジェクトの作成に失敗しました") != 0 || !test) continue;
          DetailedLog("DirectDrawオブジェクトをテスト作成しました");
          DDCAPS caps, hel;
          std::memset(&caps, 0, sizeof caps);
          std::memset(&hel, 0, sizeof hel);
          caps.dwSize = hel.dwSize = sizeof(DDCAPS);
          test->GetCaps(&caps, &hel);
          if ((caps.dwCaps & DDCAPS_3D) && (caps.ddsCaps.dwCaps & DDSCAPS_TEXTURE)) {
            DirectDraw = std::move(test);
            DetailedLog("テスト作成されたDirectDrawオブジェクトを採用します");
            adopted = true;
            break;
          }
          test.reset();
          DetailedLog("テスト用DirectDrawオブジェクトを解放しました");
        }
      }
      if (!adopted) CreateDirectDraw(nullptr);
    }
  }
  if (!DirectDraw) {
    // Nothing can be set up without the DirectDraw object.
    Busy = false;
    return;
  }

  DDCAPS caps, hel;
  std::memset(&caps, 0, sizeof caps);
  std::memset(&hel, 0, sizeof hel);
  caps.dwSize = hel.dwSize = sizeof(DDCAPS);
  DirectDraw->GetCaps(&caps, &hel);
  DetailedLog(format("Caps:%016llX", static_cast<unsigned long long>(caps.dwCaps)));

  HWND hwnd = WindowHandle;
  ComRef<IDirectDrawSurface7> primary, back;
  if (Full) {
    Owner().SetBounds(0, 0, Width, Height);
    CheckResult(DirectDraw->SetCooperativeLevel(hwnd, DDSCL_FULLSCREEN | DDSCL_ALLOWREBOOT |
                                                          DDSCL_EXCLUSIVE | DDSCL_ALLOWMODEX),
                "協調レベルの設定に失敗しました");
    CheckResult(
        DirectDraw->SetDisplayMode(static_cast<DWORD>(Width), static_cast<DWORD>(Height),
                                   static_cast<DWORD>(Depth), static_cast<DWORD>(Refresh), 0),
        format("画面モード%dx%dx%dの初期化に失敗しました", Width, Height, Depth));
    Hardware3D = (caps.dwCaps & DDCAPS_3D) && DisplayBitsPerPixel() > 8;
    DDSURFACEDESC2 d = empty_desc();
    d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    d.dwBackBufferCount = 1;
    d.ddsCaps.dwCaps =
        DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | (Use3D ? DDSCAPS_3DDEVICE : 0);
    CheckResult(DirectDraw->CreateSurface(&d, primary.put(), nullptr),
                "プライマリ・サーフェスの作成に失敗しました");
    if (primary) {
      DDSCAPS2 bc;
      std::memset(&bc, 0, sizeof bc);
      bc.dwCaps = DDSCAPS_BACKBUFFER;
      CheckResult(primary->GetAttachedSurface(&bc, back.put()),
                  "バックバッファの作成に失敗しました");
    }
    Owner().SetSize(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    Owner().BringToFront();
  } else {
    CheckResult(DirectDraw->SetCooperativeLevel(hwnd, DDSCL_NORMAL),
                "協調レベルの設定に失敗しました");
    Hardware3D = (caps.dwCaps & DDCAPS_3D) && DisplayBitsPerPixel() > 8;
    DDSURFACEDESC2 d = empty_desc();
    d.dwFlags = DDSD_CAPS;
    d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    CheckResult(DirectDraw->CreateSurface(&d, primary.put(), nullptr),
                "プライマリ・サーフェスの作成に失敗しました");
    DWORD bcaps = DDSCAPS_SYSTEMMEMORY;
    switch (BackBufferLocationAtWindowed) {
      case bmtDefault:
      case bmtCompatible:
        if (!Use3D) {
          bcaps = BackBufferLocationAtWindowed == bmtDefault ? DDSCAPS_VIDEOMEMORY
                                                             : DDSCAPS_SYSTEMMEMORY;
        } else {
          bool soft = (D3DOptions.contains(DontUseHAL) && D3DOptions.contains(DontUseTnLHAL)) ||
                      !Hardware3D;
          bcaps = (soft ? DDSCAPS_SYSTEMMEMORY : DDSCAPS_VIDEOMEMORY) | DDSCAPS_3DDEVICE;
        }
        break;
      case bmtSystemMemory:
        bcaps = DDSCAPS_SYSTEMMEMORY | (Use3D ? DDSCAPS_3DDEVICE : 0);
        break;
      case bmtVideoMemory:
        bcaps = DDSCAPS_VIDEOMEMORY | (Use3D ? DDSCAPS_3DDEVICE : 0);
        break;
    }
    DDSURFACEDESC2 b = empty_desc();
    b.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    b.dwWidth = static_cast<DWORD>(Width);
    b.dwHeight = static_cast<DWORD>(Height);
    b.ddsCaps.dwCaps = bcaps | DDSCAPS_OFFSCREENPLAIN;
    if (DirectDraw->CreateSurface(&b, back.put(), nullptr) != 0) {
      b.ddsCaps.dwCaps &= ~static_cast<DWORD>(DDSCAPS_VIDEOMEMORY);
      CheckResult(DirectDraw->CreateSurface(&b, back.put(), nullptr),
                  "バックバッファの作成に失敗しました");
    }
    DetailedLog(placement_text("バックバッファ", b.ddsCaps.dwCaps));
  }

  CheckResult(DirectDraw->CreateClipper(0, Clipper.put(), nullptr),
              "Clipperオブジェクトの作成に失敗しました");
  if (Clipper)
    CheckResult(Clipper->SetHWnd(0, hwnd), "Clipperのフォームへの割り当てに失敗しました");
  if (primary && Clipper) {
    CheckResult(primary->SetClipper(Clipper.get()),
                "Clipperのプライマリサーフェスへの割り当てに失敗しました");
  }

  BitDepth = DisplayBitsPerPixel();
  FullScreen = Full;
  RefreshRate = Refresh;
  ScreenWidth = Width;
  ScreenHeight = Height;
  Primary = std::make_unique<TDDDDGenSurface>(this, primary.detach(), Width, Height);
  BackBuffer = std::make_unique<TDDDDGenSurface>(this, back.detach(), Width, Height);

  Palette.reset();
  if (!Use3D) {
    for (PALETTEENTRY& e : PaletteEntries) e.peFlags = PC_NOCOLLAPSE;
  } else if (Full) {
    for (int i = 0; i < 256; ++i) {
      PaletteEntries[i] = PALETTEENTRY{static_cast<BYTE>(((i >> 5) & 7) * 255 / 7),
                                       static_cast<BYTE>(((i >> 2) & 7) * 255 / 7),
                                       static_cast<BYTE>((i & 3) * 255 / 3), D3DPAL_READONLY};
    }
  } else {
    HDC dc = GetDC(nullptr);
    GetSystemPaletteEntries(dc, 0, 256, PaletteEntries.data());
    ReleaseDC(nullptr, dc);
    for (int i = 0; i < 256; ++i) {
      PaletteEntries[i].peFlags = (i < 10 || i > 245) ? D3DPAL_READONLY : PC_RESERVED;
    }
  }
  if (BitDepth == 8) {
    CheckResult(
        DirectDraw->CreatePalette(DDPCAPS_8BIT, PaletteEntries.data(), Palette.put(), nullptr),
        "DirectDrawPaletteの作成に失敗しました");
    if (Palette && Primary->Surface) {
      CheckResult(Primary->Surface->SetPalette(Palette.get()),
                  "DirectDrawPaletteのFrontBufferへの割り当てに失敗しました");
    }
    if (Palette && BackBuffer->Surface) {
      CheckResult(BackBuffer->Surface->SetPalette(Palette.get()),
                  "DirectDrawPaletteのBackBufferへの割り当てに失敗しました");
    }
  }

  if (Use3D) Setup3D(Width, Height);

  Busy = false;
  if (!NotInitialised && InitDone) {
    RebuildSurfaces();
    if (OnChangeDisplayMode) OnChangeDisplayMode(*this);
  }
}

bool TDDDD::ModeAvailable(std::int32_t Width, std::int32_t Height, std::int32_t Depth,
                          std::int32_t Refresh) {
  if (!DirectDraw) return false;
  std::vector<DDSURFACEDESC2> modes;
  DirectDraw->EnumDisplayModes(DDEDM_REFRESHRATES, nullptr, &modes, collect_mode);
  for (const DDSURFACEDESC2& m : modes) {
    if ((Width == 0 || m.dwWidth == static_cast<DWORD>(Width)) &&
        (Height == 0 || m.dwHeight == static_cast<DWORD>(Height)) &&
        (Depth == 0 || m.ddpfPixelFormat.dwRGBBitCount == static_cast<DWORD>(Depth)) &&
        (Refresh == 0 || m.dwRefreshRate == static_cast<DWORD>(Refresh))) {
      return true;
    }
  }
  return false;
}

void TDDDD::Flip() {
  if (!Primary || !Primary->Surface) return;
  if (FullScreen && Primary->Surface->Flip(nullptr, DDFLIP_WAIT) == 0) return;
  if (!BackBuffer || !BackBuffer->Surface) return;
  RECT src{0, 0, static_cast<LONG>(BackBuffer->Description.dwWidth),
           static_cast<LONG>(BackBuffer->Description.dwHeight)};
  RECT dst = Owner().ClientScreenRect();
  if (VsyncAtWindowed && DirectDraw) DirectDraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
  DDBLTFX fx;
  std::memset(&fx, 0, sizeof fx);
  fx.dwSize = sizeof fx;
  Primary->Surface->Blt(&dst, BackBuffer->Surface.get(), &src, DDBLT_WAIT, &fx);
}

HRESULT TDDDD::Clear() {
  if (!BackBuffer || !BackBuffer->Surface) return DDERR_SURFACELOST;
  RECT r{0, 0, ScreenWidth, ScreenHeight};
  DDBLTFX fx;
  std::memset(&fx, 0, sizeof fx);
  fx.dwSize = sizeof fx;
  fx.dwFillColor = BackColor;
  return BackBuffer->Surface->Blt(&r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
}

void TDDDD::LoadPaletteFromArchive(const std::string& ArchiveName, const std::string& MemberName) {
  std::unique_ptr<TMemoryStream> stream;
  try {
    stream = ExtractFromQDA(ArchiveName, MemberName);
  } catch (const std::exception&) {
    DebugLog(ArchiveName + "からの" + MemberName + "の抽出に失敗しました");
    return;
  }
  BITMAPFILEHEADER fh;
  if (!stream->ReadExact(&fh, sizeof fh) || fh.bfType != 0x4D42) {
    if (dddd_log().halt_on_error) MediaHalt();
    throw ExDDDD("不正なビットマップです");
  }
  BITMAPINFOHEADER ih;
  if (!stream->ReadExact(&ih, sizeof ih)) throw ExDDDD("不正なビットマップです");
  std::uint32_t count = ih.biClrUsed == 0 ? 256 : std::min<std::uint32_t>(ih.biClrUsed, 256);
  for (std::uint32_t i = 0; i < count; ++i) {
    RGBQUAD q;
    if (!stream->ReadExact(&q, sizeof q)) throw ExDDDD("不正なビットマップです");
    PaletteEntries[i] = PALETTEENTRY{q.rgbRed, q.rgbGreen, q.rgbBlue, PC_NOCOLLAPSE};
  }
}

void TDDDD::UpdatePalette() {
  if (BitDepth != 8) return;
  if (FullScreen) {
    if (Palette) {
      CheckResult(Palette->SetEntries(0, 0, 256, PaletteEntries.data()),
                  "パレットが更新できませんでした");
    }
    return;
  }
  SetWindowPalette();
}

void TDDDD::SetWindowPalette() {
  struct {
    WORD version;
    WORD count;
    PALETTEENTRY entries[256];
  } log;
  log.version = 0x300;
  log.count = 256;
  for (PALETTEENTRY& e : log.entries) e = PALETTEENTRY{0, 0, 0, PC_NOCOLLAPSE};
  HPALETTE black = CreatePalette(reinterpret_cast<LOGPALETTE*>(&log));
  HDC screen = GetDC(nullptr);
  HPALETTE old = SelectPalette(screen, black, FALSE);
  RealizePalette(screen);
  SelectPalette(screen, old, FALSE);
  GetSystemPaletteEntries(screen, 0, 256, log.entries);
  ReleaseDC(nullptr, screen);
  DeleteObject(black);
  for (int i = 10; i <= 245; ++i) log.entries[i] = PaletteEntries[i];
  HPALETTE palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&log));
  HDC dc = GetDC(WindowHandle);
  SelectPalette(dc, palette, FALSE);
  RealizePalette(dc);
  ReleaseDC(WindowHandle, dc);
  if (window_palette_) DeleteObject(window_palette_);
  window_palette_ = palette;
}

void TDDDD::Restore() {
  if (Primary) Primary->Restore();
  if (!FullScreen && BackBuffer) BackBuffer->Restore();
  if (Use3D && ZBuffer) ZBuffer->Restore();
  RestoreSurfaces();
}

void TDDDD::RestoreSurfaces() {
  for (auto& k : SurfaceList) k->Restore();
  for (auto& k : TextureList) k->Restore();
}

void TDDDD::RebuildSurfaces() {
  for (auto& k : TextureList) k->Rebuild();
  for (auto& k : SurfaceList) k->Rebuild();
}

void TDDDD::ReleaseSurfaces() {
  for (auto& k : TextureList) k->ReleaseSurface();
  for (auto& k : SurfaceList) k->ReleaseSurface();
}

void TDDDD::AddSurface(TDDDDSurface& Surface) {
  for (auto it = SurfaceList.begin(); it != SurfaceList.end(); ++it) {
    if (&(*it)->Surface == &Surface) {
      SurfaceList.erase(it);
      break;
    }
  }
  SurfaceList.push_back(std::make_unique<TDDDDSurfaceKeeper>(*this, Surface));
  DetailedLog(
      format("サーフェスリストの%d番に追加しました", static_cast<int>(SurfaceList.size()) - 1));
}

void TDDDD::RemoveSurface(TDDDDSurface& Surface) {
  for (std::size_t i = 0; i < SurfaceList.size(); ++i) {
    if (&SurfaceList[i]->Surface == &Surface) {
      Surface.Surface.reset();
      SurfaceList.erase(SurfaceList.begin() + static_cast<std::ptrdiff_t>(i));
      DetailedLog(format("サーフェスリストの%d番が解放されました", static_cast<int>(i)));
      return;
    }
  }
}

void TDDDD::ReleaseAll() {
  Busy = true;
  if (NotInitialised) return;
  DetailedLog("…DirectDraw/3D関連オブジェクトを全て解放します…");
  if (InitDone) {
    ReleaseSurfaces();
    DetailedLog("オフスクリーンサーフェスを全て解放しました");
    if (OnCleanUp) OnCleanUp(*this);
  }
  if (Use3D) Release3DDevices();
  if (Palette) {
    Palette.release();
    DetailedLog("パレットを解放しました");
  }
  if (Use3D) Release3DObjects();
  if (Clipper) {
    Clipper.release();
    DetailedLog("クリッパーを解放しました");
  }
  if (BackBuffer) {
    BackBuffer->Surface.release();
    BackBuffer.reset();
    DetailedLog("バックバッファを解放しました");
  }
  if (Primary) {
    Primary->Surface.release();
    Primary.reset();
    DetailedLog("プライマリサーフェスを解放しました");
  }
  if (DirectDraw) {
    if (FullScreen) DirectDraw->RestoreDisplayMode();
    CheckResult(static_cast<HRESULT>(DirectDraw.release()), "DirectDrawの解放に失敗しました");
    DetailedLog("DirectDrawを解放しました");
  }
  DetailedLog("…DirectDraw/3D関連オブジェクト、解放終了しました…");
}

}  // namespace zt
