#!/usr/bin/env bash
# Starts zt-play on the generated data directory of the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/zt-play/zt-play ]; then
  echo "zt-play is not built yet: the build so far holds the game core and its tests"
  exit 0
fi
exec build/zt-play/zt-play --data-dir="build/data/Zentropolium 1.3" \
  --soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2 "$@"
