#!/bin/bash
# What the player hears, run by hand on a virtual X screen:
#   xvfb-run -a -s '-screen 0 1280x1024x24' zt-play/tests/measure_audio.sh EXE DATA_DIR [SOUNDFONT]
# The real program plays through SDL's disk audio driver, which writes the
# mixed output (32-bit float stereo, 44100 Hz) to a file a little faster than
# real time, while xdotool drives it; zt-audio-levels, beside EXE, reads the
# file. Three runs, with music from SOUNDFONT (by default Debian's TimGM6mb):
#   title and demonstration: default settings, the title menu until its
#     demonstration has played, then Esc;
#   scripted play: the first 93 s of the replay check's "default" play
#     (zt-replaycheck records it), replayed from slot 1, then Esc twice;
#   music alone: effects off, the title menu past the first repeat of its
#     song, then Esc.
# Each prints the samples at full scale and the peak; the last also the title
# music's RMS, the largest sample step at its loop point against the largest
# elsewhere, and the level of the last 50 ms before the device closed against
# the music before it. ZT_AUDIO_KEEP=DIR keeps the recordings there.
set -eu
exe=$1
data=$2
soundfont=${3:-/usr/share/sounds/sf2/TimGM6mb.sf2}
bin=$(dirname "$exe")
levels=$bin/zt-audio-levels
replaycheck=$bin/../tools/zt-replaycheck/zt-replaycheck
for tool in "$levels" "$replaycheck"; do
  [ -x "$tool" ] || { echo "missing $tool (a build with ZT_BENCHMARKS=ON)"; exit 1; }
done
command -v xdotool >/dev/null || { echo "missing xdotool"; exit 1; }
work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" 2>/dev/null || true; fi
  if [ -n "${ZT_AUDIO_KEEP:-}" ]; then mkdir -p "$ZT_AUDIO_KEEP" && cp "$work"/*.raw "$ZT_AUDIO_KEEP"/ 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
export SDL_AUDIODRIVER=disk SDL_VIDEODRIVER=x11
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

press_key() { xdotool keydown --window "$wid" "$1"; sleep 0.1; xdotool keyup --window "$wid" "$1"; }
click_at() {  # window coordinates at scale 3
  xdotool mousemove --window "$wid" "$1" "$2"; sleep 0.15
  xdotool mousedown --window "$wid" 1; sleep 0.1; xdotool mouseup --window "$wid" 1
}

# start LABEL [SETTINGS]: the program on a fresh copy of the data directory.
start() {
  rm -rf "$work/data"
  cp -r "$data" "$work/data"
  [ -z "${2:-}" ] || printf '%b' "$2" >"$work/data/Zentria.ini"
  [ ! -f "$work/Rec1.dat" ] || cp "$work/Rec1.dat" "$work/data/Rec/Rec1.dat"
  raw=$work/$1.raw
  SDL_DISKAUDIOFILE=$raw "$exe" --data-dir="$work/data" --soundfont="$soundfont" 2>"$work/$1.err" &
  pid=$!
  wid=$(timeout 15 xdotool search --sync --name '^Zentropolium$' | head -1)
  [ -n "$wid" ] || { echo "$1: no window"; cat "$work/$1.err"; exit 1; }
  xdotool windowfocus --sync "$wid" 2>/dev/null || true
  # The pointer off the menu rows, so that only the script's clicks choose.
  xdotool mousemove 1270 1015
}

# Esc until the program has ended (a first one may only leave a replay).
finish() {
  for _ in 1 2 3; do
    press_key Escape
    for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break 2; sleep 0.1; done
  done
  wait "$pid" 2>/dev/null || { echo "the program failed:"; cat "$work/"*.err; exit 1; }
  pid=
}

start title
# The logo takes 4.5 s; the demonstration starts 25 s into the title menu and
# plays for about 15 s.
sleep 50
finish
echo "== title and demonstration"
"$levels" "$raw"

"$replaycheck" record "$data" "$work/set" default >/dev/null
cp "$work/set/default.dat" "$work/Rec1.dat"
start play
sleep 7
click_at 301 571  # REPLAY DATA, field (100, 190)
sleep 1.5
click_at 211 271  # DATA1, field (70, 90)
sleep 95          # the stage intro, then 93 s of the play
finish
echo "== scripted play (93 s of the replay check's default play)"
"$levels" "$raw"

start music '[GameSetting]\r\nPlaySE=0\r\n'
sleep 50  # the title song lasts 40 s
finish
echo "== music alone (title menu, effects off)"
"$levels" "$raw" --song="$data/title.mid"
