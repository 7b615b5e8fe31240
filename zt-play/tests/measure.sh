#!/bin/bash
# Figures of the real program, run by hand inside xvfb-run:
#   xvfb-run -a -s '-screen 0 1280x1024x24' zt-play/tests/measure.sh EXE DATA_DIR
# prints the time from start to the window and the CPU share of one core
# while the title menu runs for ten seconds.
set -eu
exe=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$2" "$work/data"
export SDL_AUDIODRIVER=dummy
t0=$(date +%s%N)
"$exe" --data-dir="$work/data" 2>/dev/null &
pid=$!
xdotool search --sync --name '^Zentropolium$' >/dev/null
t1=$(date +%s%N)
echo "window after $(( (t1 - t0) / 1000000 )) ms"
sleep 8  # the logo, then the title menu
tick=$(getconf CLK_TCK)
read -r u1 s1 < <(awk '{print $14, $15}' /proc/$pid/stat)
sleep 10
read -r u2 s2 < <(awk '{print $14, $15}' /proc/$pid/stat)
echo "title menu: $(( (u2 - u1) * 100 / tick / 10 ))% user + $(( (s2 - s1) * 100 / tick / 10 ))% system of one core"
kill "$pid"
wait "$pid" 2>/dev/null || true
