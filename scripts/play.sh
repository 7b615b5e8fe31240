#!/usr/bin/env bash
# Starts zt-play on the generated data directory of the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/zt-play/zt-play ]; then
  echo "play.sh: build/zt-play/zt-play is not built; build it first:" >&2
  echo "  cmake -S . -B build -G Ninja && cmake --build build" >&2
  exit 1
fi
if [ ! -f "build/data/Zentropolium 1.3/images.qda" ]; then
  echo "play.sh: the data directory build/data/Zentropolium 1.3 is not generated; cmake --build build makes it" >&2
  exit 1
fi
exec build/zt-play/zt-play --data-dir="build/data/Zentropolium 1.3" \
  --soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2 "$@"
