// The full-screen game window: reads the settings, sets the display mode,
// creates the game over the Windows host and runs it from idle time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "dddd.h"
#include "ddsd.h"
#include "game/ugame.h"
#include "kbgm_backend.h"
#include "media_form.h"
#include "medialog.h"
#include "score_file.h"
#include "sounds.h"
#include "surfaces.h"
#include "win_host.h"
#include "win_settings.h"

namespace zt::win {

// The frame pump's rule: a frame once FrameWait ms have passed since the
// last one started (modulo 2^32), or at once while Shift is held.
bool FrameDue(std::uint32_t now, std::uint32_t last_frame_time, bool shift);

// Shift pressed since the last query or held now.
bool ShiftHeld();

class TForm1 {
 public:
  // application_window: the program's own top-level window, hidden while the
  // game runs; none in tests.
  explicit TForm1(HWND application_window = nullptr);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Runs messages and idle frames until the application is asked to end.
  void Run();

  // Handlers.
  void FormCreate();
  void FormDestroy();
  void FormMouseDown(UINT message);
  void FormShow();
  void DDDDInit();
  // One call of the idle handler; false once the application should end.
  void AppIdle();

  bool Terminated() const { return terminated_; }
  // 1 once the game could not be made (its sheets, say), else 0.
  int ExitCode() const { return exit_code_; }
  TGame* Game() { return game_ ? &*game_ : nullptr; }

  TMediaForm form;
  std::unique_ptr<TDDDD> DDDD;
  std::unique_ptr<TDDSD> DDSD;

 private:
  void CreateGame();
  void SaveScoreFile();
  void Terminate() { terminated_ = true; }
  void PaintLabel1();
  void Shutdown();

  HWND application_window_;
  std::wstring settings_path_;
  WinConfig settings_;
  std::uint64_t LastFrameTime = 0;
  bool idle_installed_ = false;
  bool terminated_ = false;
  int exit_code_ = 0;
  std::uint16_t saved_control_word_ = 0;

  GameScoreFile score_file_{L"ZTScore.dat"};
  KbgmBackend music_;
  std::unique_ptr<TSurfaces> surfaces_;
  std::unique_ptr<TSounds> sounds_;
  std::unique_ptr<WinHost> host_;
  std::optional<TGame> game_;
  std::unique_ptr<FadeTimer> fade_timer_;
  // Last: a halt runs Shutdown while everything above still exists.
  std::unique_ptr<HaltShutdown> halt_shutdown_;
};

// Opens the game window over the program's own top-level window and runs the
// game to its end; the exit code: 1 when the game could not start.
int RunGameWindow(HWND application_window);

}  // namespace zt::win
