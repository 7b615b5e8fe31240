// The drawing a frame does most: whole-frame copies, keyed sprites and
// backgrounds, stretches, fills and the mosaic, on 320 x 240 surfaces.
#include <benchmark/benchmark.h>

#include <cstddef>

#include "dddd/blit.h"

namespace zt {
namespace {

Surface patterned(int w, int h) {
  Surface s = *Surface::create(w, h);
  for (std::size_t i = 0; i < s.pixels.size(); ++i)
    s.pixels[i] = static_cast<std::uint8_t>(i * 7 % 5);
  return s;
}

void BM_FrameCopy(benchmark::State& state) {
  Surface dst = patterned(320, 240), src = patterned(320, 240);
  const bool keyed = state.range(0) != 0;
  for (auto _ : state) {
    dd_blit_rect(dst, src, 0, 0, 320, 240, 0, 0, keyed, -1);
    benchmark::DoNotOptimize(dst.pixels.data());
  }
}
BENCHMARK(BM_FrameCopy)->Arg(0)->Arg(1);

void BM_KeyedSprites(benchmark::State& state) {
  // Fifty 32 x 32 sprites, some of them clipped at the edges.
  Surface dst = patterned(320, 240), sheet = patterned(256, 64);
  for (auto _ : state) {
    for (int i = 0; i < 50; ++i)
      dd_blit_rect(dst, sheet, (i % 8) * 32, 0, 32, 32, i * 7 - 16, i * 5 - 16, true, -1);
    benchmark::DoNotOptimize(dst.pixels.data());
  }
}
BENCHMARK(BM_KeyedSprites);

void BM_Stretch(benchmark::State& state) {
  // The frame's final copy (1:1), a doubling and a halving.
  Surface dst = patterned(320, 240), src = patterned(320, 240);
  const int w = static_cast<int>(state.range(0)), h = w * 3 / 4;
  const bool keyed = state.range(1) != 0;
  for (auto _ : state) {
    dd_blit_rect_to(dst, src, 0, 0, w, h, 0, 0, 320, 240, keyed, -1);
    benchmark::DoNotOptimize(dst.pixels.data());
  }
}
BENCHMARK(BM_Stretch)->Args({320, 0})->Args({160, 0})->Args({160, 1})->Args({320, 1});

void BM_FillAndMosaic(benchmark::State& state) {
  Surface s = patterned(320, 240);
  for (auto _ : state) {
    dd_fill_rect(s, 0, 0, 320, 240, 3);
    dd_pixelate(s, static_cast<std::int32_t>(state.range(0)));
    benchmark::DoNotOptimize(s.pixels.data());
  }
}
BENCHMARK(BM_FillAndMosaic)->Arg(2)->Arg(5)->Arg(16);

}  // namespace
}  // namespace zt
