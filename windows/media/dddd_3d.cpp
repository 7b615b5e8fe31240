// Direct3D devices and the retained-mode device of the display component,
// set up only with Use3D. d3drm.dll is loaded when first needed.
#include <d3drm.h>

#include <cstring>

#include "dddd.h"
#include "medialog.h"

namespace zt {
namespace {

using Direct3DRMCreateProc = HRESULT(WINAPI*)(IDirect3DRM**);

HRESULT CALLBACK record_device(LPSTR, LPSTR, LPD3DDEVICEDESC7 desc, LPVOID context) {
  auto* available = static_cast<std::uint32_t*>(context);
  const GUID& g = desc->deviceGUID;
  if (g == IID_IDirect3DTnLHalDevice)
    *available |= 1;
  else if (g == IID_IDirect3DHALDevice)
    *available |= 2;
  else if (g == IID_IDirect3DMMXDevice)
    *available |= 4;
  else if (g == IID_IDirect3DRGBDevice)
    *available |= 8;
  else if (g == IID_IDirect3DRampDevice)
    *available |= 16;
  else if (g == IID_IDirect3DRefDevice)
    *available |= 32;
  return D3DENUMRET_OK;
}

struct ZFormatSearch {
  DWORD flags;
  bool found = false;
  DDPIXELFORMAT format{};
};

HRESULT CALLBACK find_zformat(LPDDPIXELFORMAT pf, LPVOID context) {
  auto* s = static_cast<ZFormatSearch*>(context);
  if (pf->dwFlags != s->flags) return D3DENUMRET_OK;
  s->found = true;
  s->format = *pf;
  return D3DENUMRET_CANCEL;
}

std::string hex16(HRESULT hr) {
  return format("%016llX", static_cast<unsigned long long>(static_cast<std::uint32_t>(hr)));
}

}  // namespace

void TDDDD::Setup3D(std::int32_t Width, std::int32_t Height) {
  CheckResult(DirectDraw->QueryInterface(IID_IDirect3D7, Direct3D.put_void()),
              "Direct3Dオブジェクトの作成に失敗しました");
  if (!d3drm_created_) {
    d3drm_created_ = true;
    // No import library exists for the retained mode: it is loaded at run time.
    if (!d3drm_module_) d3drm_module_ = LoadLibraryW(L"d3drm.dll");
    auto create = d3drm_module_ ? reinterpret_cast<Direct3DRMCreateProc>(reinterpret_cast<void*>(
                                      GetProcAddress(d3drm_module_, "Direct3DRMCreate")))
                                : nullptr;
    ComRef<IDirect3DRM> rm;
    HRESULT hr = create ? create(rm.put()) : HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    CheckResult(hr, "Direct3DRMオブジェクトの作成に失敗しました");
    if (rm) {
      CheckResult(rm->QueryInterface(IID_IDirect3DRM3, Direct3DRM.put_void()),
                  "Direct3DRM3オブジェクトの作成に失敗しました");
    }
  }
  if (!Direct3D) return;

  AvailableDevices = 0;
  Direct3D->EnumDevices(record_device, &AvailableDevices);

  struct Candidate {
    const GUID* guid;
    bool skip;
    bool video;
    const char* used;
    const char* failed;
    const char* zfailed;
  };
  const Candidate candidates[] = {
      {&IID_IDirect3DTnLHalDevice, D3DOptions.contains(DontUseTnLHAL) || !Hardware3D, true,
       "T&L HALデバイスを使用します", "T&L HALデバイスが作れません",
       "T&L HALデバイス用Zバッファが作れません"},
      {&IID_IDirect3DHALDevice, D3DOptions.contains(DontUseHAL) || !Hardware3D, true,
       "HALデバイスを使用します", "HALデバイスが作れません", "HALデバイス用Zバッファが作れません"},
      {&IID_IDirect3DMMXDevice, D3DOptions.contains(DontUseMMX), false,
       "MMXエミュレーションデバイスを使用します", nullptr, nullptr},
      {&IID_IDirect3DRGBDevice, D3DOptions.contains(DontUseRGBEmulation), false,
       "RGBエミュレーションデバイスを使用します", nullptr, nullptr},
      {&IID_IDirect3DRampDevice, false, false, "Rampエミュレーションデバイスを使用します", nullptr,
       nullptr},
      {&IID_IDirect3DRefDevice, false, false, "リファレンスラスタライザを使用します", nullptr,
       nullptr},
  };
  HardwareAccelerated = false;
  bool have_device = false;
  for (int kind = 0; kind < 6 && !have_device; ++kind) {
    const Candidate& c = candidates[kind];
    if (c.skip) continue;
    if (!CreateZBuffer(*c.guid, c.video)) {
      if (c.zfailed) DetailedLog(c.zfailed);
      continue;
    }
    HRESULT hr =
        BackBuffer && BackBuffer->Surface
            ? Direct3D->CreateDevice(*c.guid, BackBuffer->Surface.get(), Direct3DDevice.put())
            : DDERR_SURFACELOST;
    if (hr == 0) {
      DetailedLog(c.used);
      DeviceKind = kind;
      HardwareAccelerated = kind < 2;
      have_device = true;
    } else if (c.failed) {
      DetailedLog(c.failed + hex16(hr));
    }
  }

  if (!FullScreen && have_device && DeviceKind != 0 && Direct3DRM && Clipper) {
    GUID guid = *candidates[DeviceKind].guid;
    CheckResult(
        Direct3DRM->CreateDeviceFromClipper(Clipper.get(), &guid, Width, Height, RMDevice.put()),
        "Diret3DRMデバイスの作成に失敗しました");
    if (CameraFrame && RMDevice) {
      CheckResult(
          Direct3DRM->CreateViewport(RMDevice.get(), CameraFrame, 0, 0, static_cast<DWORD>(Width),
                                     static_cast<DWORD>(Height), Viewport.put()),
          "Viewportの作成に失敗しました");
      if (Viewport) Viewport->SetBack(5000.0f);
    }
  }
  DetailedLog(HardwareAccelerated ? "ハードウェアアクセラレーション可"
                                  : "ハードウェアアクセラレーション不可");
}

void TDDDD::ReleaseZBuffer() {
  if (!ZBuffer) return;
  if (BackBuffer && BackBuffer->Surface && ZBuffer->Surface) {
    BackBuffer->Surface->DeleteAttachedSurface(0, ZBuffer->Surface.get());
  }
  ZBuffer.reset();
}

bool TDDDD::CreateZBuffer(const GUID& Device, bool InVideoMemory) {
  ReleaseZBuffer();
  const bool stencil = D3DOptions.contains(MakeStencilBuffer);
  if (!stencil && !D3DOptions.contains(MakeZBuffer)) return true;
  const char* made_fail =
      stencil ? "ステンシルバッファの作成に失敗しました" : "Zバッファの作成に失敗しました";
  const char* attach_fail =
      stencil ? "ステンシルバッファのアタッチに失敗しました" : "Zバッファのアタッチに失敗しました";
  ZFormatSearch search{stencil ? static_cast<DWORD>(DDPF_ZBUFFER | DDPF_STENCILBUFFER)
                               : static_cast<DWORD>(DDPF_ZBUFFER)};
  Direct3D->EnumZBufferFormats(Device, find_zformat, &search);
  if (!search.found || !BackBuffer || !BackBuffer->Surface) {
    DetailedLog(made_fail);
    return false;
  }
  const DDPIXELFORMAT& pf = search.format;
  DetailedLog(format(
      "%s...ZDepth=%d SDepth=%d Mask=(Z:%.8x S:%.8x L:%.8x)",
      stencil ? "列挙されたステンシルバッファのフォーマット" : "列挙されたZバッファのフォーマット",
      static_cast<int>(pf.dwZBufferBitDepth), static_cast<int>(pf.dwStencilBitDepth),
      static_cast<unsigned>(pf.dwZBitMask), static_cast<unsigned>(pf.dwStencilBitMask),
      static_cast<unsigned>(pf.dwLuminanceBitMask)));
  DDSURFACEDESC2 d;
  std::memset(&d, 0, sizeof d);
  d.dwSize = sizeof d;
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  d.dwWidth = BackBuffer->Description.dwWidth;
  d.dwHeight = BackBuffer->Description.dwHeight;
  d.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | (InVideoMemory ? 0 : DDSCAPS_SYSTEMMEMORY);
  d.ddpfPixelFormat = pf;
  ComRef<IDirectDrawSurface7> z;
  if (DirectDraw->CreateSurface(&d, z.put(), nullptr) != 0) {
    DetailedLog(made_fail);
    return false;
  }
  if (BackBuffer->Surface->AddAttachedSurface(z.get()) != 0) {
    DetailedLog(attach_fail);
    return false;
  }
  ZBuffer =
      std::make_unique<TDDDDGenSurface>(this, z.detach(), static_cast<std::int32_t>(d.dwWidth),
                                        static_cast<std::int32_t>(d.dwHeight));
  DetailedLog(stencil ? "ステンシルバッファを作成しました" : "Zバッファを作成しました");
  return true;
}

void TDDDD::Release3DDevices() {
  if (Viewport) {
    Viewport.release();
    DetailedLog("RM用ViewPortを解放しました");
  }
  if (RMDevice) {
    CheckResult(static_cast<HRESULT>(RMDevice.release()), "Direct3DRMDeviceの解放に失敗しました");
    DetailedLog("Direct3DRMDeviceを解放しました");
  }
  if (Direct3DDevice) {
    CheckResult(static_cast<HRESULT>(Direct3DDevice.release()),
                "Direct3DDeviceの解放に失敗しました");
    DetailedLog("Direct3DDeviceを解放しました");
  }
}

void TDDDD::Release3DObjects() {
  if (Destroying && Direct3DRM) {
    CheckResult(static_cast<HRESULT>(Direct3DRM.release()), "Direct3DRM3の解放に失敗しました");
    DetailedLog("Direct3DRM3を解放しました");
  }
  if (ZBuffer) {
    ReleaseZBuffer();
    DetailedLog("Zバッファを解放しました");
  }
  if (Direct3D) {
    Direct3D.release();
    DetailedLog("Direct3Dを解放しました");
  }
}

}  // namespace zt
