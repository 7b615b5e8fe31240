#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing need.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh: run as root (it calls apt-get)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# xfonts-base: SDL2 draws its message boxes on X11 with the X core fonts;
# without them no error or help box appears. libx11-dev: the end-to-end
# test's helper that holds the X pointer. fonts-wine: Wine's own faces, among
# them the symbols of the window caption buttons. clang-format: CI checks the
# layout of the sources.
apt-get update
apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config git ca-certificates \
  clang libclang-rt-14-dev clang-format \
  googletest libgtest-dev libgmock-dev libbenchmark-dev \
  libmpfr-dev libgmp-dev \
  libsdl2-dev libfluidsynth-dev librtmidi-dev libasound2-dev \
  timgm6mb-soundfont midicsv \
  imagemagick xvfb xauth xdotool x11-utils xfonts-base libx11-dev \
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine fonts-ipafont-gothic
