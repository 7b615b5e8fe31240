#include "renderer.h"

#include <SDL_opengl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "files.h"  // write_all
#include "formats/ascii.h"

namespace zt::renderer {

namespace {

// The child's side: SDL's own choice for a hidden window, written as the
// renderer's name and a line with the GL renderer string. It leaves with
// _exit, running none of the parent's exit handlers.
[[noreturn]] void answer(int fd) {
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
  }
  std::string text;
  if (SDL_Init(SDL_INIT_VIDEO) == 0) {
    SDL_Window* window = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_HIDDEN);
    SDL_Renderer* r = window != nullptr ? SDL_CreateRenderer(window, -1, 0) : nullptr;
    SDL_RendererInfo info{};
    if (r != nullptr && SDL_GetRendererInfo(r, &info) == 0) {
      text = info.name;
      if (text.starts_with("opengl")) {
        // The renderer's context is current on this thread.
        using GetString = const GLubyte*(APIENTRY*)(GLenum);
        const auto get = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
        const GLubyte* s = get != nullptr ? get(GL_RENDERER) : nullptr;
        if (s != nullptr) {
          text += '\n';
          text += reinterpret_cast<const char*>(s);
        }
      }
    }
  }
  (void)write_all(fd, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  _exit(0);
}

}  // namespace

bool is_software_rasteriser(std::string_view gl_renderer) {
  const std::string lower = ascii_lower(gl_renderer);
  for (const std::string_view name : {"llvmpipe", "softpipe", "swrast", "software rasterizer"}) {
    if (lower.find(name) != std::string::npos) return true;
  }
  return false;
}

bool picks_software_opengl(const Picked& picked) {
  return picked.name.starts_with("opengl") && is_software_rasteriser(picked.gl_renderer);
}

std::optional<Probe> Probe::start() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    answer(fds[1]);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return std::nullopt;
  }
  return Probe(pid, fds[0]);
}

Probe::Probe(Probe&& other) noexcept : pid_(other.pid_), fd_(other.fd_) {
  other.pid_ = -1;
  other.fd_ = -1;
}

Probe::~Probe() {
  end();
}

void Probe::end() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (pid_ > 0) {
    // Done with, or given up on: a child still busy is not waited for.
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
}

std::optional<Picked> Probe::result(std::chrono::milliseconds timeout) {
  std::string text;
  bool complete = false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (fd_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) break;
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[256];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      complete = n == 0;
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  end();
  if (!complete || text.empty()) return std::nullopt;
  const std::size_t line_end = text.find('\n');
  if (line_end == std::string::npos) return Picked{text, {}};
  return Picked{text.substr(0, line_end), text.substr(line_end + 1)};
}

bool user_chose_renderer() {
  return SDL_GetHint(SDL_HINT_RENDER_DRIVER) != nullptr;
}

SDL_Renderer* create(SDL_Window* window, const std::optional<Picked>& picked) {
  if (picked && picks_software_opengl(*picked)) {
    // Otherwise SDL would still present the software renderer's picture
    // through an OpenGL texture.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    return SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
  }
  return SDL_CreateRenderer(window, -1, 0);
}

}  // namespace zt::renderer
