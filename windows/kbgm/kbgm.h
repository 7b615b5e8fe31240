// The game's MIDI music library: songs loaded from Standard MIDI Files and
// played through the system's MIDI mapper on a sequencer thread of its own.
// Every argument and result is a 32-bit integer; fade times are whole seconds.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define KBGM_API __stdcall
#else
#define KBGM_API
#endif

// Results. Any other non-zero result of KBGMOpen is the system's MIDI error.
inline constexpr std::int32_t KBGM_OK = 0;
inline constexpr std::int32_t KBGM_ERR_NOT_OPEN = 1;
inline constexpr std::int32_t KBGM_ERR_HANDLE = 2;
inline constexpr std::int32_t KBGM_ERR_FILE = 3;
inline constexpr std::int32_t KBGM_ERR_ARGUMENT = 4;
// KBGMClose while another call of it waits for the sequencer to stop: call again.
inline constexpr std::int32_t KBGM_NOT_CLOSED = 4100;

// The status record of KBGMGetInfo; callers reserve its full size.
struct KBGMINFO {
  std::int32_t handle;
  std::int32_t playing;     // 1 while the song sounds, fades included
  std::int32_t volume;      // master volume, 0 to 100
  std::int32_t fading_out;  // 1 until a fade-out has reached silence
  std::int32_t fading_in;
  std::int32_t position_ms;  // from the start of the current pass
  std::int32_t length_ms;
  std::int32_t repeat;  // 1 when the song starts again at its end
  std::uint8_t reserved[8192];
};
static_assert(sizeof(KBGMINFO) == 8224);

extern "C" {
// Opens the MIDI mapper and starts the sequencer. a and b are reserved.
std::int32_t KBGM_API KBGMOpen(std::int32_t a, std::int32_t b);
// 0 sends the General MIDI reset.
std::int32_t KBGM_API KBGMSendSysx(std::int32_t kind);
// Writes a positive handle through `handle`; leaves it alone on failure.
std::int32_t KBGM_API KBGMLoadFile(std::int32_t* handle, const char* file_name);
std::int32_t KBGM_API KBGMStop();
// Rewinds the song and forgets its fade-in and repeat settings.
std::int32_t KBGM_API KBGMInit(std::int32_t handle);
// Before KBGMPlay: the song rises from silence when it starts; on the song
// playing: it fades up from silence now.
std::int32_t KBGM_API KBGMFadeIn(std::int32_t handle, std::int32_t seconds);
// a is reserved; count is how many more passes follow the first, 0 for no end.
std::int32_t KBGM_API KBGMSetRepeat(std::int32_t handle, std::int32_t a, std::int32_t count);
std::int32_t KBGM_API KBGMPlay(std::int32_t handle, std::int32_t repeat);
// Ignored while a fade runs.
std::int32_t KBGM_API KBGMSetVolume(std::int32_t handle, std::int32_t volume);
// Fades the song playing to silence, then stops it; 0 seconds stops at once.
std::int32_t KBGM_API KBGMFadeOut(std::int32_t handle, std::int32_t seconds);
std::int32_t KBGM_API KBGMGetInfo(std::int32_t handle, KBGMINFO* info);
std::int32_t KBGM_API KBGMFree(std::int32_t handle);
std::int32_t KBGM_API KBGMClose();
}
