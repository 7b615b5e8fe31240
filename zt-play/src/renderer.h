// The choice of SDL's renderer for the window. Left to itself SDL prefers
// OpenGL; where that OpenGL is a rasteriser running on the CPU (a virtual X
// screen, a machine without a GPU driver), drawing a scaled 320x240 picture
// through it costs several times what SDL's own software renderer does, and
// loading it brings a whole compiler into the process. There the software
// renderer is used, with a window framebuffer that does not go through
// OpenGL either; on a real GPU SDL's choice stands, and so does a renderer
// the user names with SDL's render-driver hint.
#pragma once

#include <SDL.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zt::renderer {

// What SDL picks for a window when left to itself: the renderer's name and,
// for an OpenGL one, the GL renderer string.
struct Picked {
  std::string name;
  std::string gl_renderer;
};

// Whether a GL renderer string names a rasteriser that runs on the CPU.
bool is_software_rasteriser(std::string_view gl_renderer);

// Whether the renderer SDL picks draws with OpenGL on such a rasteriser.
bool picks_software_opengl(const Picked& picked);

// Asks a child process which renderer SDL picks, so that the OpenGL driver
// loaded to find out stays out of this process and the question runs while
// the game loads. The child is a copy of this process: start it before SDL
// or any other thread starts.
class Probe {
 public:
  // Nothing when the child cannot be made.
  static std::optional<Probe> start();
  Probe(Probe&& other) noexcept;
  Probe& operator=(Probe&&) = delete;
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;
  ~Probe();

  // The answer, waiting at most `timeout` for it; nothing when the child
  // gave none. Ends the child.
  std::optional<Picked> result(std::chrono::milliseconds timeout);

 private:
  Probe(pid_t pid, int fd) : pid_(pid), fd_(fd) {}
  void end();

  pid_t pid_ = -1;
  int fd_ = -1;
};

// Whether the user chose a renderer through SDL's render-driver hint.
bool user_chose_renderer();

// The window's renderer: SDL's software renderer over an unaccelerated window
// framebuffer when `picked` says that SDL's choice is OpenGL on a software
// rasteriser, otherwise SDL's choice. Nothing, with SDL's error set, when
// the renderer cannot be created.
SDL_Renderer* create(SDL_Window* window, const std::optional<Picked>& picked);

}  // namespace zt::renderer
