// A library preloaded into the real program (LD_PRELOAD) by the measuring
// script and the end-to-end test. It changes nothing unless asked:
//   ZT_PRESENT_LOG=FILE   appends "PID renderer NAME[ GL_RENDERER]" for every
//                         renderer made and "PID present REALTIME_NS
//                         MONOTONIC_NS" for every picture shown
//   ZT_PRESENT_FREEZE=N   shows the first N pictures, then no more, so that the
//                         window keeps the Nth picture while the game runs on
#include <SDL.h>
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long long clock_ns(clockid_t id) {
  timespec t{};
  clock_gettime(id, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

std::FILE* log_file() {
  static std::FILE* f = [] {
    const char* path = std::getenv("ZT_PRESENT_LOG");
    return path != nullptr ? std::fopen(path, "a") : nullptr;
  }();
  return f;
}

template <class F>
F next_symbol(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

long freeze_after() {
  const char* n = std::getenv("ZT_PRESENT_FREEZE");
  return n != nullptr ? std::atol(n) : 0;
}

}  // namespace

extern "C" {

SDL_Renderer* SDL_CreateRenderer(SDL_Window* window, int index, Uint32 flags) {
  using Create = SDL_Renderer* (*)(SDL_Window*, int, Uint32);
  static const Create real = next_symbol<Create>("SDL_CreateRenderer");
  SDL_Renderer* r = real(window, index, flags);
  SDL_RendererInfo info{};
  if (std::FILE* f = log_file();
      f != nullptr && r != nullptr && SDL_GetRendererInfo(r, &info) == 0) {
    std::fprintf(f, "%d renderer %s", static_cast<int>(getpid()), info.name);
    if (std::strncmp(info.name, "opengl", 6) == 0) {
      using GetString = const unsigned char* (*)(unsigned);
      constexpr unsigned kGlRenderer = 0x1F01;
      if (auto get = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"))) {
        if (const unsigned char* s = get(kGlRenderer)) std::fprintf(f, " %s", s);
      }
    }
    std::fprintf(f, "\n");
    std::fflush(f);
  }
  return r;
}

void SDL_RenderPresent(SDL_Renderer* renderer) {
  using Present = void (*)(SDL_Renderer*);
  static const Present real = next_symbol<Present>("SDL_RenderPresent");
  static const long freeze = freeze_after();
  static long shown = 0;
  if (freeze > 0 && shown >= freeze) return;
  real(renderer);
  ++shown;
  if (std::FILE* f = log_file()) {
    std::fprintf(f, "%d present %lld %lld\n", static_cast<int>(getpid()), clock_ns(CLOCK_REALTIME),
                 clock_ns(CLOCK_MONOTONIC));
    if (shown == freeze) std::fprintf(f, "%d frozen\n", static_cast<int>(getpid()));
    std::fflush(f);
  }
}

}  // extern "C"
