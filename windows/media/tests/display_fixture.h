// A form with a display component, brought up the way the game does it:
// the form's own create handler picks the full-screen mode.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "dddd.h"
#include "media_test_support.h"
#include "medialog.h"

namespace zt::test {

struct Display {
  // bits 0: stay windowed on the desktop.
  Display(int width, int height, int bits,
          TDDDDDebugOptions options = {ddoHaltOnError, ddoDebugMessage})
      : form(L"Zentropolium test", width, height) {
    form.OnCreate = [this, width, height, bits](TMediaForm&) {
      created_mode_available = bits == 0 || dddd->ModeAvailable(width, height, bits, 0);
      if (bits != 0) dddd->Initialize(width, height, bits, 0, "");
    };
    dddd = std::make_unique<TDDDD>(form);
    dddd->AutoDisplayModeInitialize = false;
    dddd->SurfaceLocation = smtSystemMemory;
    dddd->SetDebugOption(options);
    dddd->OnInit = [this](TDDDD&, bool need) {
      init_calls++;
      need_change = need;
    };
    form.Show();
    form.Create();
    ProcessMessages();
  }
  ~Display() {
    dddd.reset();
    ProcessMessages();
  }

  TMediaForm form;
  std::unique_ptr<TDDDD> dddd;
  bool created_mode_available = false;
  int init_calls = 0;
  bool need_change = false;
};

inline std::uint32_t pixel(TDDDDGenSurface& s, int x, int y) {
  DDSURFACEDESC2 d;
  std::memset(&d, 0, sizeof d);
  d.dwSize = sizeof d;
  if (s.Surface->Lock(nullptr, &d, DDLOCK_WAIT, nullptr) != 0) return 0xDEADBEEF;
  const int bytes = static_cast<int>(d.ddpfPixelFormat.dwRGBBitCount / 8);
  const auto* p = static_cast<const std::uint8_t*>(d.lpSurface) + y * d.lPitch + x * bytes;
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  s.Surface->Unlock(nullptr);
  return v;
}

inline std::vector<std::uint32_t> row_of(TDDDDGenSurface& s, int y) {
  std::vector<std::uint32_t> r;
  for (int x = 0; x < s.Width; ++x) r.push_back(pixel(s, x, y));
  return r;
}

inline void fill(TDDDDGenSurface& s, std::uint32_t value) {
  s.FillRect(RECT{0, 0, s.Width, s.Height}, value);
}

// Tests on a display at 640 x 480 in 8 bits, with the halt counted.
class Display8Test : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_logs();
    display = std::make_unique<Display>(640, 480, 8);
    ASSERT_EQ(display->dddd->BitDepth, 8);
  }
  void TearDown() override {
    display.reset();
    EXPECT_EQ(halt_count, 0);
  }
  TDDDD& dddd() { return *display->dddd; }

  std::unique_ptr<Display> display;
};

}  // namespace zt::test
