#!/usr/bin/env bash
# Installs what is needed, checks the layout of the sources, builds every
# configuration and runs every test: the normal build, the portable arithmetic
# backend, the sanitizer build, the fuzzers and the Windows program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
fuzz_seconds=${ZT_FUZZ_SECONDS:-30}
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy}

echo "== formatting =="
bash scripts/check-format.sh

echo "== normal build (x87 unit) =="
cmake -S . -B build -G Ninja -DZT_WERROR=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== portable arithmetic backend (MPFR) =="
# It replays the recordings of the normal build's replay check.
cmake -S . -B build-mpfr -G Ninja -DZT_WERROR=ON -DZT_X87_BACKEND=mpfr \
  -DZT_LINUX_PROGRAM=OFF -DZT_BENCHMARKS=OFF -DZT_LINUX_BUILD_DIR="$PWD/build"
cmake --build build-mpfr -j"$jobs"
ctest --test-dir build-mpfr --output-on-failure -j"$jobs"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-asan -G Ninja -DZT_WERROR=ON -DZT_SANITIZE=ON -DZT_BENCHMARKS=OFF \
  -DCMAKE_BUILD_TYPE=Debug
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== fuzzers (${fuzz_seconds} s each) =="
cmake -S . -B build-fuzz -G Ninja -DZT_WERROR=ON -DZT_FUZZ=ON -DZT_TESTS=OFF \
  -DZT_BENCHMARKS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz -j"$jobs" --target zt-fuzzers
bash scripts/run-fuzzers.sh build-fuzz "$fuzz_seconds"

echo "== Windows program: cross build, tests under Wine =="
bash scripts/test-windows.sh

echo "all configurations passed"
