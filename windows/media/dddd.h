// dddd: the display unit. TDDDD owns the DirectDraw 7 object, the display
// mode, the primary surface with its back buffer, the clipper and the
// palette; TDDDDSurface objects are the application's off-screen surfaces,
// rebuilt from their recorded pictures when the display replaces them.
#pragma once

#include <windows.h>

#include <d3d.h>
#include <d3drm.h>
#include <ddraw.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "formats/qda.h"
#include "media_base.h"
#include "media_form.h"

namespace zt {

class ExDDDD : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TDDDDDebugOption { ddoHaltOnError, ddoDebugMessage, ddoDetailedLog };
using TDDDDDebugOptions = SetOf<TDDDDDebugOption>;

// Writes a line to "dddd.debug" when ddoDebugMessage is on.
void DebugLog(const std::string& Message);
// Progress lines: only with ddoDetailedLog (and ddoDebugMessage to reach the file).
void DetailedLog(const std::string& Message);
// 0 passes; anything else is logged with its code and halts under ddoHaltOnError.
HRESULT CheckResult(HRESULT Code, const std::string& Message);

enum TDDDDSurfaceMemoryType {
  smtDefault,
  smtCompatible,
  smtSystemMemory,
  smtVideoMemory,
  smtNonLocalVideoMemory
};
enum TDDDDBackBufferMemoryType { bmtDefault, bmtCompatible, bmtSystemMemory, bmtVideoMemory };
enum TDDDDD3DOption {
  DontUseTnLHAL,
  DontUseHAL,
  DontUseMMX,
  DontUseRGBEmulation,
  MakeZBuffer,
  MakeStencilBuffer
};
using TDDDDD3DOptions = SetOf<TDDDDD3DOption>;

class TDDDD;

class TDDDDGenSurface {
 public:
  TDDDDGenSurface(TDDDD* Owner, IDirectDrawSurface7* Surface, std::int32_t Width,
                  std::int32_t Height);
  virtual ~TDDDDGenSurface() = default;
  TDDDDGenSurface(const TDDDDGenSurface&) = delete;
  TDDDDGenSurface& operator=(const TDDDDGenSurface&) = delete;

  void Lock(DDSURFACEDESC2& Description);
  void Unlock();
  bool IsLost();
  HRESULT Restore();
  void GetDesc(DDSURFACEDESC2& Description);
  std::uint32_t ColorValue(std::uint8_t A, std::uint8_t R, std::uint8_t G, std::uint8_t B) const;

  HRESULT Blt(TDDDDGenSurface* Source, RECT DestRect, RECT SourceRect, DWORD Flags, DDBLTFX* BltFX);
  HRESULT BltRect(TDDDDGenSurface* Source, std::int32_t X, std::int32_t Y, RECT SourceRect,
                  DWORD Flags);
  void FillRect(const RECT& Rect, std::uint32_t Color);
  void SetPixel(std::int32_t X, std::int32_t Y, std::uint32_t Color);
  // Each load tells whether the whole picture was loaded; every failure is
  // logged. An archive member is charged against the budget of its archive
  // when one is given.
  bool LoadBMP(TStream& Stream);
  virtual bool LoadFromFile(const std::string& FileName);
  virtual bool LoadFromArchive(const std::string& ArchiveName, const std::string& MemberName,
                               QdaBudget* Budget = nullptr);

  ComRef<IDirectDrawSurface7> Surface;
  TDDDD* Owner;
  std::int32_t Width;
  std::int32_t Height;
  DDSURFACEDESC2 Description;
  std::uint32_t ColorKey = 0;
  bool Locked = false;
  DDSURFACEDESC2 LockedDescription;

  struct Channel {
    std::uint32_t mask = 0;
    int right_shift = 8;
    int left_shift = 32;
  };
  // Alpha, red, green, blue.
  std::array<Channel, 4> Composition;

 protected:
  // For subclasses that create their surface themselves.
  TDDDDGenSurface(TDDDD* Owner, std::int32_t Width, std::int32_t Height);
  void BuildComposition();
  friend class TDDDDSurfaceKeeper;
};

class TDDDDSurface : public TDDDDGenSurface {
 public:
  TDDDDSurface(TDDDD& Owner, std::int32_t Width, std::int32_t Height, std::uint32_t ColorKey);
  static std::unique_ptr<TDDDDSurface> CreateInSystemMemory(TDDDD& Owner, std::int32_t Width,
                                                            std::int32_t Height,
                                                            std::uint32_t ColorKey);
  ~TDDDDSurface() override;

  bool LoadFromFile(const std::string& FileName) override;
  bool LoadFromArchive(const std::string& ArchiveName, const std::string& MemberName,
                       QdaBudget* Budget = nullptr) override;
  // Loads the recorded picture again.
  void Reload();

  int SourceKind = 0;  // 0 file, 1 archive member
  std::string FileName;
  std::string ArchiveName;
  std::string MemberName;

  TDDDDSurface(TDDDD& Owner, std::int32_t Width, std::int32_t Height, std::uint32_t ColorKey,
               TDDDDSurfaceMemoryType MemoryType);

 private:
  void CreateSurface(TDDDD& Owner, std::int32_t Width, std::int32_t Height, std::uint32_t ColorKey,
                     TDDDDSurfaceMemoryType MemoryType);
  friend class TDDDD;
};

class TDDDDSurfaceKeeper {
 public:
  TDDDDSurfaceKeeper(TDDDD& Owner, TDDDDSurface& Surface) : Owner(Owner), Surface(Surface) {}
  void Restore();
  void Rebuild();
  void ReleaseSurface();

  TDDDD& Owner;
  TDDDDSurface& Surface;

 private:
  int Index() const;
};

// A GDI device context on a surface; destroy it before the surface.
class TDDDDCanvas {
 public:
  explicit TDDDDCanvas(TDDDDGenSurface& Surface);
  ~TDDDDCanvas();
  TDDDDCanvas(const TDDDDCanvas&) = delete;
  TDDDDCanvas& operator=(const TDDDDCanvas&) = delete;
  // The device context, taken from the surface the first time it is asked for.
  HDC Handle();
  bool Valid;

 private:
  void CreateHandle();
  IDirectDrawSurface7* surface_;
  HDC dc_ = nullptr;
};

class TDDDD : public TComponent {
 public:
  using InitEvent = std::function<void(TDDDD& Sender, bool fNeedChange)>;
  using NotifyEvent = std::function<void(TDDDD& Sender)>;

  explicit TDDDD(TMediaForm& Owner);
  ~TDDDD() override;

  void Loaded() override;

  TDDDDDebugOptions DebugOption() const { return debug_option_; }
  void SetDebugOption(TDDDDDebugOptions Value);
  bool DisableScreenSaver() const { return disable_screen_saver_; }
  void SetDisableScreenSaver(bool Value);

  void Initialize(std::int32_t Width, std::int32_t Height, std::int32_t BitDepth,
                  std::int32_t RefreshRate, const std::string& DriverName);
  void InitializeDirectDraw(bool FullScreen, std::int32_t Width, std::int32_t Height,
                            std::int32_t BitDepth, std::int32_t RefreshRate,
                            const std::string& DriverName);
  bool ModeAvailable(std::int32_t Width, std::int32_t Height, std::int32_t BitDepth,
                     std::int32_t RefreshRate);
  void Flip();
  HRESULT Clear();
  void LoadPaletteFromArchive(const std::string& ArchiveName, const std::string& MemberName);
  void UpdatePalette();
  void Restore();
  void ReleaseAll();
  void AddSurface(TDDDDSurface& Surface);
  void RemoveSurface(TDDDDSurface& Surface);

  std::int32_t InitialScreenWidth = 640;
  std::int32_t InitialScreenHeight = 480;
  std::int32_t InitialBitDepth = 0;
  bool InitializeFullScreen = false;
  std::uint32_t BackColor = 0;
  bool AutoDisplayModeInitialize = true;
  bool Use3D = false;
  TDDDDD3DOptions D3DOptions{MakeZBuffer};
  bool VsyncAtWindowed = true;
  TDDDDSurfaceMemoryType SurfaceLocation = smtDefault;
  TDDDDBackBufferMemoryType BackBufferLocationAtWindowed = bmtDefault;
  InitEvent OnInit;
  NotifyEvent OnRestore, OnChangeDisplayMode, OnCleanUp, OnEnterMenuLoop, OnExitMenuLoop, OnDestroy;

  ComRef<IDirectDraw7> DirectDraw;
  std::unique_ptr<TDDDDGenSurface> Primary;
  std::unique_ptr<TDDDDGenSurface> BackBuffer;
  ComRef<IDirectDrawClipper> Clipper;
  ComRef<IDirectDrawPalette> Palette;
  std::array<PALETTEENTRY, 256> PaletteEntries{};

  std::int32_t ScreenWidth = 0;
  std::int32_t ScreenHeight = 0;
  std::int32_t BitDepth = 0;
  std::int32_t RefreshRate = 0;
  bool FullScreen = false;

  std::vector<std::string> DriverList;
  std::vector<std::unique_ptr<TDDDDSurfaceKeeper>> SurfaceList;
  std::vector<std::unique_ptr<TDDDDSurfaceKeeper>> TextureList;
  HWND WindowHandle = nullptr;

  bool NotInitialised = true;
  bool Destroying = false;
  bool InitDone = false;
  bool Busy = false;

  // Direct3D, only with Use3D.
  ComRef<IDirect3D7> Direct3D;
  ComRef<IDirect3DDevice7> Direct3DDevice;
  ComRef<IDirect3DRM3> Direct3DRM;
  ComRef<IDirect3DRMDevice3> RMDevice;
  ComRef<IDirect3DRMViewport2> Viewport;
  IDirect3DRMFrame3* CameraFrame = nullptr;
  std::unique_ptr<TDDDDGenSurface> ZBuffer;
  int DeviceKind = 0;
  std::uint32_t AvailableDevices = 0;
  bool Hardware3D = false;
  bool HardwareAccelerated = false;

  int IndexOfKeeper(const TDDDDSurfaceKeeper& Keeper) const;

 private:
  void FormCreateHook(TMediaForm& Sender);
  void FormPaintHook(TMediaForm& Sender);
  LRESULT WindowProcHook(UINT Msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK HookProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  void SubclassWindow();
  void UnsubclassWindow();
  void EnterMenuLoop();
  void SetWindowPalette();
  void RebuildSurfaces();
  void RestoreSurfaces();
  void ReleaseSurfaces();
  bool CreateDirectDraw(GUID* Guid);
  void Setup3D(std::int32_t Width, std::int32_t Height);
  bool CreateZBuffer(const GUID& Device, bool InVideoMemory);
  void ReleaseZBuffer();
  void Release3DDevices();
  void Release3DObjects();
  int DisplayBitsPerPixel() const;

  TDDDDDebugOptions debug_option_{ddoHaltOnError};
  bool disable_screen_saver_ = true;
  BOOL screen_saver_was_active_ = FALSE;
  TMediaForm::NotifyEvent previous_on_paint_;
  TMediaForm::NotifyEvent previous_on_create_;
  WNDPROC previous_wndproc_ = nullptr;
  HWND hooked_window_ = nullptr;
  HMODULE d3drm_module_ = nullptr;
  HPALETTE window_palette_ = nullptr;
  bool d3drm_created_ = false;
};

}  // namespace zt
