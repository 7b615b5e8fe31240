#include "game_window.h"

#include <iterator>
#include <string>

#include "fpu.h"
#include "game/start_game.h"
#include "getkey.h"
#include "text_codec.h"

namespace zt::win {

namespace {

void show_error(const std::string& text) {
  MessageBoxW(nullptr, utf8_to_wide(text).c_str(), L"Zentropolium", MB_OK | MB_ICONERROR);
}

std::uint32_t seed_from_clock() {
  LARGE_INTEGER c;
  if (QueryPerformanceCounter(&c)) return static_cast<std::uint32_t>(c.QuadPart);
  return GetTickCount();
}

}  // namespace

bool FrameDue(std::uint32_t now, std::uint32_t last_frame_time, bool shift) {
  const std::uint32_t elapsed = now - last_frame_time;
  return shift || elapsed >= static_cast<std::uint32_t>(FrameWait);
}

bool ShiftHeld() {
  return AsyncKeyState(VK_SHIFT) != 0;
}

TForm1::TForm1(HWND application_window)
    : form(L"Zentropolium", 640, 480), application_window_(application_window) {
  SetWindowLongPtrW(form.Handle(), GWL_STYLE, WS_POPUP | WS_CLIPCHILDREN);
  SetWindowLongPtrW(form.Handle(), GWL_EXSTYLE, WS_EX_TOPMOST);
  form.OnCreate = [this](TMediaForm&) { FormCreate(); };
  form.OnPaint = [this](TMediaForm&) { PaintLabel1(); };
  DDDD = std::make_unique<TDDDD>(form);
  DDDD->SetDebugOption({ddoHaltOnError});
  DDDD->BackColor = 0;
  DDDD->AutoDisplayModeInitialize = false;
  DDDD->SetDisableScreenSaver(true);
  DDDD->Use3D = false;
  DDDD->D3DOptions = {};
  DDDD->VsyncAtWindowed = true;
  DDDD->SurfaceLocation = smtSystemMemory;
  DDDD->OnInit = [this](TDDDD&, bool) { DDDDInit(); };
  DDSD = std::make_unique<TDDSD>(form);
  DDSD->SetDebugOption({dsoHaltOnError});
  halt_shutdown_ = std::make_unique<HaltShutdown>([this] { Shutdown(); });
}

TForm1::~TForm1() {
  halt_shutdown_.reset();
  Shutdown();
}

// Also what a halt runs: the settings are written and the display mode given
// back before the process ends.
void TForm1::Shutdown() {
  FormDestroy();
  DDSD.reset();
  DDDD.reset();
}

void TForm1::FormShow() {
  // The game covers the screen; the program's own window stays out of reach.
  if (application_window_ != nullptr) ShowWindow(application_window_, SW_HIDE);
}

// Label1: "Zentropolium Working", white, 24 pixels high, at (40, 48); the
// display covers it once the game draws.
void TForm1::PaintLabel1() {
  HDC dc = GetDC(form.Handle());
  HFONT font =
      CreateFontW(-24, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  static constexpr wchar_t kCaption[] = L"Zentropolium Working";
  TextOutW(dc, 40, 48, kCaption, static_cast<int>(std::size(kCaption) - 1));
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(form.Handle(), dc);
}

void TForm1::DDDDInit() {
  DDDD->BackColor = 0;
  DDDD->Clear();
  DDDD->Flip();
}

void TForm1::FormCreate() {
  settings_path_ = SettingsPathBesideExe();
  settings_ = ReadSettings(settings_path_);

  const bool big = settings_.display800;
  const int w = big ? 800 : 640;
  const int h = big ? 600 : 480;
  if (!DDDD->ModeAvailable(w, h, 8, 0)) {
    MessageBoxW(form.Handle(),
                big ? L"800x600x8bit画面モード未対応です。起動できません。"
                    : L"640x480x8bit画面モード未対応です。起動できません。",
                L"Zentropolium", MB_OK);
    Terminate();
    return;
  }
  DDDD->Initialize(w, h, 8, 0, "");

  while (ShowCursor(FALSE) >= 0) {
  }
  idle_installed_ = true;
  LastFrameTime = timeGetTime();
  form.SetBounds(-20, -20, GetSystemMetrics(SM_CXSCREEN) + 40, GetSystemMetrics(SM_CYSCREEN) + 40);

  try {
    CreateGame();
  } catch (const std::exception&) {
    // Without its pictures, or anything else it needs, the game cannot start:
    // the program ends without a message, through the shutdown of every end
    // (settings written, display mode given back), and with the status of a
    // failure, as a sheet that halts the display ends it.
    exit_code_ = 1;
    fade_timer_.reset();
    game_.reset();
    host_.reset();
    sounds_.reset();
    surfaces_.reset();
    Terminate();
    return;
  }
  game_->seed_random(seed_from_clock());
}

void TForm1::CreateGame() {
  surfaces_ = std::make_unique<TSurfaces>(*DDDD);
  sounds_ = std::make_unique<TSounds>(*DDSD);
  host_ = std::make_unique<WinHost>(*DDDD, surfaces_.get(), sounds_.get(), music_);
  // None of the score table, the music or the logo's palette depends on the
  // small generator, the screen size or the sound switch set after them.
  StartedGame started = start_game(settings_.config, score_file_.Read(), *host_);
  score_file_.Loaded(started.score);
  game_.emplace(std::move(started.game));
  TGame& g = *game_;
  g.set_rnd(TRnd(0, 0));
  g.set_screen_size(DDDD->ScreenWidth, DDDD->ScreenHeight);
  sounds_->PlaySE = g.flag(kPlaySE);
  fade_timer_ = std::make_unique<FadeTimer>([this] {
    if (game_) kbgm_fade_timer_tick(game_->bgm(), *host_);
  });
}

void TForm1::FormMouseDown(UINT message) {
  if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK) LeftClicked = 1;
  if (message == WM_RBUTTONDOWN || message == WM_RBUTTONDBLCLK) RightClicked = 1;
}

void TForm1::AppIdle() {
  if (!idle_installed_ || !game_) return;
  const std::uint32_t now = timeGetTime();
  if (!FrameDue(now, static_cast<std::uint32_t>(LastFrameTime), ShiftHeld())) return;
  LastFrameTime = timeGetTime();

  TGame& g = *game_;
  const std::uint8_t flags_before = g.settings().flags;
  SetX87ControlWord(kGameControlWord);
  const std::optional<GameError> error = g.step_frame(*host_);
  // The settings' flag setter: auto-saving stays off when it is rejected or
  // the physics are changed.
  if (g.settings().flags != flags_before) {
    settings_.config.experiment = g.settings().experiment;
    settings_.SetFlags(g.settings().flags);
    g.set_option_flags(settings_.config.flags);
    sounds_->PlaySE = g.flag(kPlaySE);
  }
  DDDD->BackColor = static_cast<std::uint32_t>(g.back_colour());
  fade_timer_->set_enabled(g.bgm().fade_timer());
  if (error) show_error(std::string(text(*error)));
  if (g.quit()) {
    if (g.state() == kStateExit) SaveScoreFile();
    Terminate();
  }
}

void TForm1::SaveScoreFile() {
  const auto bytes = game_->hiscore_bytes();
  if (!bytes) return;
  if (score_file_.Write(*bytes)) show_error("ZTScore.dat を書き込めません");
}

void TForm1::FormDestroy() {
  if (settings_path_.empty()) return;
  TConfig config = settings_.config;
  if (game_) {
    config = game_->settings();
    config.last_player_name = game_->player_name();
    fade_timer_.reset();
    kbgm_release(game_->bgm(), music_.calls());
    game_.reset();
  }
  host_.reset();
  sounds_.reset();
  surfaces_.reset();
  try {
    // A file that could not be read is left as it is, without a word.
    if (!settings_.unreadable_file) WriteSettings(settings_path_, config);
  } catch (const EIniFileException& e) {
    show_error(e.what());
  }
  idle_installed_ = false;
  settings_path_.clear();
}

void TForm1::Run() {
  form.Show();
  FormShow();
  form.Create();
  saved_control_word_ = GetX87ControlWord();
  while (!terminated_) {
    MSG msg;
    if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) break;
      if (msg.hwnd == form.Handle() || IsChild(form.Handle(), msg.hwnd)) {
        FormMouseDown(msg.message);
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      continue;
    }
    AppIdle();
  }
  SetX87ControlWord(saved_control_word_);
}

int RunGameWindow(HWND application_window) {
  InstallRuntimeErrorHandler();
  TForm1 window(application_window);
  window.Run();
  return window.ExitCode();
}

}  // namespace zt::win
