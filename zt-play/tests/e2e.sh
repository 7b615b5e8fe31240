#!/bin/bash
# End-to-end tests of the real program.
#   e2e.sh cli EXE DATA_DIR     start-up failures, no display needed
#   e2e.sh window EXE DATA_DIR [REPLAYER]
#                               the window under an X server (run inside xvfb-run);
#                               REPLAYER: the test program that replays a recording
#                               of this run in memory
# The program always runs on a copy of the data directory in a temporary
# directory. Exit 77 means skipped.
set -u
mode=$1
exe=$2
data=$3
replayer=${4:-}
[ -f "$data/images.qda" ] || { echo "no generated data directory at $data"; exit 77; }

work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" 2>/dev/null; fi
  if [ -n "${ZT_E2E_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
cp -r "$data" "$work/data"
export SDL_AUDIODRIVER=dummy
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

if [ "$mode" = cli ]; then
  # No display, so that the error box returns at once.
  unset DISPLAY WAYLAND_DISPLAY
  env SDL_VIDEODRIVER=dummy "$exe" --window=0 >"$work/out" 2>"$work/err"
  rc=$?
  [ $rc -eq 2 ] || fail "bad option: status $rc"
  grep -qx 'error: invalid --window=0 (fullscreen, or a window scale 1-10)' "$work/err" \
    && pass "bad option" || fail "bad option message: $(cat "$work/err")"

  env SDL_VIDEODRIVER=dummy "$exe" --bogus >"$work/out" 2>"$work/err"
  rc=$?
  [ $rc -eq 2 ] && grep -qx 'error: unknown option: --bogus' "$work/err" \
    && pass "unknown option" || fail "unknown option: status $rc, $(cat "$work/err")"

  env SDL_VIDEODRIVER=dummy "$exe" --data-dir="$work/missing" >"$work/out" 2>"$work/err"
  rc=$?
  [ $rc -eq 2 ] && grep -qx "error: $work/missing/images.qda not found" "$work/err" \
    && pass "missing data directory" || fail "missing data: status $rc, $(cat "$work/err")"

  env SDL_VIDEODRIVER=dummy "$exe" --help >"$work/out" 2>"$work/err"
  rc=$?
  [ $rc -eq 0 ] && [ "$(head -1 "$work/out")" = "Zentropolium Ported" ] \
    && [ "$(wc -l <"$work/out")" -eq 11 ] && pass "help" || fail "help: status $rc"

  # No display and no driver named: SDL would run the game on a driver that
  # shows nothing; that is the video start-up error instead.
  timeout 20 env -u SDL_VIDEODRIVER "$exe" --data-dir="$work/data" >"$work/out" 2>"$work/err"
  rc=$?
  video='error: could not init the SDL3 video subsystem: no display could be opened (DISPLAY is not set), and SDL'"'"'s "offscreen" driver shows nothing'
  [ $rc -eq 2 ] && grep -qxF "$video" "$work/err" && pass "no display: the video start-up error" \
    || fail "no display: status $rc, $(cat "$work/err")"
  # Named, the driver that shows nothing is taken: the game runs until stopped.
  timeout 3 env SDL_VIDEODRIVER=offscreen "$exe" --data-dir="$work/data" >"$work/out" 2>"$work/err"
  rc=$?
  [ $rc -eq 124 ] && pass "SDL_VIDEODRIVER=offscreen runs" || fail "offscreen: status $rc, $(cat "$work/err")"
  exit $((failures > 0))
fi

# ---- window mode ----
# The X11, OpenGL and D-Bus libraries keep allocations to the end of the
# process; in a sanitizer build only this mode's leak check is off (the
# in-process tests check the program's own code for leaks).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
# The real window on the X server, whatever driver the calling environment
# chose for its headless tests.
export SDL_VIDEODRIVER=x11
for tool in xdotool xwininfo import compare convert; do
  command -v $tool >/dev/null || { echo "missing $tool"; exit 77; }
done

# Presses held for a few game steps, as a person would.
# ended_within TENTHS: whether the program ($pid) ends within so many tenths of a second.
ended_within() {
  for _ in $(seq "$1"); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  ! kill -0 "$pid" 2>/dev/null
}
press_key() { xdotool keydown --window "$wid" "$1"; sleep 0.1; xdotool keyup --window "$wid" "$1"; }
click_at() {
  xdotool mousemove --window "$wid" "$1" "$2"; sleep 0.15
  xdotool mousedown --window "$wid" 1; sleep 0.1; xdotool mouseup --window "$wid" 1
}
# Differing pixels between two pictures of the same size, in percent.
diff_percent() {
  local n
  n=$(compare -metric AE -fuzz 12% "$1" "$2" null: 2>&1 | cut -d' ' -f1)
  echo $(( ${n%.*} * 100 / (960 * 720) ))
}

cd "$work"
# A picture of an earlier run under the first screenshot's name.
printf 'yesterday' >"$work/data/ScrSht0.bmp"
"$exe" --data-dir="$work/data" >"$work/out" 2>"$work/err" &
pid=$!
wid=$(timeout 15 xdotool search --sync --name '^Zentropolium$' | head -1)
[ -n "$wid" ] || { echo "FAIL: no window"; cat "$work/err"; exit 1; }
xdotool windowfocus --sync "$wid" 2>/dev/null

# FluidSynth's OpenMP workers wait passively unless the user chose a policy.
omp_policy() { tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^OMP_WAIT_POLICY=//p'; }
[ "$(omp_policy)" = passive ] && pass "OpenMP workers wait passively" \
  || fail "OMP_WAIT_POLICY is '$(omp_policy)'"
# Started again for it, the process keeps its name.
name=$(basename "$exe" | cut -c1-15)
[ "$(cat /proc/$pid/comm)" = "$name" ] && pass "the process is named $name" \
  || fail "the process is named $(cat /proc/$pid/comm)"

geometry=$(xwininfo -id "$wid" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
[ "$geometry" = 960x720 ] && pass "window 960x720" || fail "window is $geometry"

# The logo runs 180 steps (4.5 s), then the title menu fades in.
sleep 7
press_key s
import -window "$wid" title.png
sleep 0.3
[ "$(cat data/ScrSht0.bmp)" = yesterday ] && pass "the earlier ScrSht0.bmp survives a screenshot" \
  || fail "ScrSht0.bmp was written over"
if [ -f data/ScrSht1.bmp ]; then
  pass "S writes the next free number, ScrSht1.bmp"
  # The window shows the game's own frame scaled by 3; only the animated
  # parts may differ between the two moments.
  convert data/ScrSht1.bmp -filter point -resize 300% shot3.png
  d=$(diff_percent shot3.png title.png)
  [ "$d" -lt 15 ] && pass "title menu on screen ($d% differs from the game's frame)" \
    || fail "window differs from the game's frame by $d%"
else
  fail "no ScrSht1.bmp"
fi

# Field (100, 160) is the OPTION row; the window point is its centre at scale 3.
click_at 301 481
sleep 1
import -window "$wid" options.png
d=$(diff_percent title.png options.png)
[ "$d" -gt 30 ] && pass "OPTION opens the options screen ($d% changed)" \
  || fail "options screen not shown ($d% changed)"

# Switch DrawBackground off (row 1, field y 65), then GO BACK TO MENU (field y 225).
click_at 301 196
sleep 0.3
click_at 301 676
sleep 1

# One Esc on the title menu leads to the exit screen, whose 41st frame ends the program.
press_key Escape
if ! ended_within 50; then
  fail "still running after Esc on the title menu"
else
  wait "$pid"
  rc=$?
  pid=
  [ $rc -eq 0 ] && pass "Esc ends with status 0" || fail "status $rc"
fi

size=$(stat -c %s data/ZTScore.dat 2>/dev/null || echo none)
[ "$size" = 320 ] && pass "score file written" || fail "score file: $size"
if grep -q '^DrawBackground=0' data/Zentria.ini 2>/dev/null; then
  pass "changed setting saved"
else
  fail "Zentria.ini: $(cat data/Zentria.ini 2>/dev/null || echo missing)"
fi

# Whether the pointer, sent to the far corner of the screen, stays in the field.
pointer_confined() {
  xdotool mousemove 640 512
  sleep 0.2
  xdotool mousemove 1270 1015
  sleep 0.3
  eval "$(xdotool getmouselocation --shell)"
  [ "$X" -lt $((wx + ww)) ] && [ "$Y" -lt $((wy + wh)) ]
}
start_small() {
  "$exe" --data-dir="$work/data" --window=2 "$@" >"$work/out2" 2>>"$work/err2" &
  pid=$!
  wid=$(timeout 15 xdotool search --sync --name '^Zentropolium$' | head -1)
  xdotool windowfocus --sync "$wid" 2>/dev/null
  sleep 0.5
  read -r wx wy ww wh < <(xwininfo -id "$wid" | awk '/Absolute upper-left X/ {x=$4}
    /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
}
# Esc on the logo ends the program at once.
end_on_logo() {
  press_key Escape
  if ! ended_within 30; then
    fail "Esc on the logo did not end the program"
  else
    wait "$pid" && pass "Esc on the logo ends with status 0" || fail "status $? after Esc on the logo"
    pid=
  fi
}

start_small --confine=on
[ "${ww}x${wh}" = 640x480 ] && pass "--window=2 is 640x480" || fail "--window=2 is ${ww}x${wh}"
pointer_confined && pass "--confine=on keeps the pointer in the field" \
  || fail "pointer left the field: $X,$Y (window $wx,$wy ${ww}x${wh})"
end_on_logo

# Another X client holds the pointer: SDL's grab is refused (after it has
# retried for 5 s), and the program says so once, whatever forces the
# confinement again afterwards (F11 twice).
if [ -n "${ZT_GRAB_HOLDER:-}" ]; then
  "$ZT_GRAB_HOLDER" >"$work/holder" 2>&1 &
  holder=$!
  for _ in $(seq 50); do grep -q '^grabbed$' "$work/holder" && break; sleep 0.1; done
  if grep -q '^grabbed$' "$work/holder"; then
    "$exe" --data-dir="$work/data" --window=2 --confine=on >"$work/out7" 2>"$work/err7" &
    pid=$!
    wid=$(timeout 15 xdotool search --sync --name '^Zentropolium$' | head -1)
    xdotool windowfocus --sync "$wid" 2>/dev/null
    refused='could not confine the pointer to the play field: The X server refused to let us grab the mouse. You might experience input bugs.'
    for _ in $(seq 150); do grep -qxF "$refused" "$work/err7" && break; sleep 0.1; done
    press_key F11
    sleep 0.5
    press_key F11
    sleep 1
    n=$(grep -c 'could not confine' "$work/err7")
    [ "$n" = 1 ] && grep -qxF "$refused" "$work/err7" \
      && pass "a refused grab is reported once" || fail "refused grab: $n lines: $(cat "$work/err7")"
    press_key Escape
    if ended_within 50; then
      wait "$pid"
      rc=$?
      [ $rc -eq 0 ] && pass "unconfined, the game ends with status 0" || fail "status $rc after a refused grab"
    else
      fail "still running after Esc with a refused grab"
    fi
    pid=
  else
    fail "the helper could not hold the pointer: $(cat "$work/holder")"
  fi
  kill "$holder" 2>/dev/null
  wait "$holder" 2>/dev/null
fi

# With DISPLAY naming no X server and no driver named, the start is the
# video error at once, not a game that nobody sees.
n=4711
while [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
timeout 20 env -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY DISPLAY=":$n" "$exe" --data-dir="$work/data" \
  >"$work/out8" 2>"$work/err8"
rc=$?
video="error: could not init the SDL3 video subsystem: no display could be opened (DISPLAY=:$n), and SDL's \"offscreen\" driver shows nothing"
[ $rc -eq 2 ] && grep -qxF "$video" "$work/err8" \
  && pass "DISPLAY naming no server: the video start-up error, status 2" \
  || fail "DISPLAY=:$n: status $rc, $(cat "$work/err8")"

# Without a window manager the window keeps its size in full screen, but full
# screen always confines the pointer, which shows that F11 switched.
OMP_WAIT_POLICY=active start_small
[ "$(omp_policy)" = active ] && pass "the user's OpenMP wait policy is kept" \
  || fail "OMP_WAIT_POLICY is '$(omp_policy)', not the user's"
pointer_confined && fail "pointer confined with --confine off" || pass "windowed: pointer free"
press_key F11
sleep 0.5
pointer_confined && pass "F11: full screen confines the pointer" || fail "F11: pointer free"
press_key F11
sleep 0.5
pointer_confined && fail "F11 again: still confined" || pass "F11 again: windowed, pointer free"
end_on_logo

# The renderer. Under Xvfb the OpenGL that SDL finds is llvmpipe, a rasteriser
# on the CPU, so the program draws with SDL's software renderer; SDL's
# render-driver hint still picks OpenGL. The hook library (ZT_PRESENT_HOOK)
# logs the renderer and holds the window at its 240th picture, a title menu
# frame that only the steps decide, so the two windows must match exactly.
hold_picture() {  # hold_picture NAME [VAR=VALUE...]: the picture in NAME.png, the renderer in $shown_by
  local name=$1 log=$work/$1.log
  shift
  : >"$log"
  xdotool mousemove 1270 1015  # off the window: the title menu puts the pointer on its first row
  env "$@" LD_PRELOAD="$ZT_PRESENT_HOOK" ZT_PRESENT_LOG="$log" ZT_PRESENT_FREEZE=240 \
    ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0" \
    "$exe" --data-dir="$work/data" >"$work/out3" 2>>"$work/err3" &
  pid=$!
  wid=$(timeout 15 xdotool search --sync --name '^Zentropolium$' | head -1)
  for _ in $(seq 200); do grep -q "^$pid frozen" "$log" && break; sleep 0.1; done
  sleep 0.3
  import -window "$wid" "$work/$name.png"
  shown_by=$(awk -v p="$pid" '$1 == p && $2 == "renderer" { sub(/^[0-9]+ renderer /, ""); print }' "$log")
  grep -q "^$pid frozen" "$log" || shown_by="(never reached picture 240) $shown_by"
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=
}
if [ -n "${ZT_PRESENT_HOOK:-}" ]; then
  hold_picture chosen
  [ "$shown_by" = software ] && pass "on llvmpipe the software renderer draws" \
    || fail "renderer on llvmpipe: $shown_by"
  hold_picture hinted SDL_RENDER_DRIVER=opengl
  case "$shown_by" in
    opengl*) pass "SDL's render-driver hint is honoured: $shown_by" ;;
    *) fail "with SDL_RENDER_DRIVER=opengl the renderer is $shown_by" ;;
  esac
  colours=$(convert "$work/chosen.png" -format %k info:)
  n=$(compare -metric AE "$work/chosen.png" "$work/hinted.png" null: 2>&1 | cut -d' ' -f1)
  [ "$n" = 0 ] && [ "$colours" -gt 16 ] \
    && pass "both renderers show the same picture ($colours colours)" \
    || fail "the renderers' pictures differ in $n pixels ($colours colours)"
fi

# A recorded play: NEW GAME records into slot 1 with AutoSaveAt1 on, the hand
# moves, Shift runs the rest of the play fast until it ends; then the core's
# in-memory host replays the recording to the same end and score.
if [ -n "$replayer" ]; then
  rm -rf "$work/data"
  cp -r "$data" "$work/data"
  printf '[GameSetting]\r\nAutoSaveAt1=1\r\n' >"$work/data/Zentria.ini"
  start_small
  sleep 6.5  # the logo, then the title menu
  # NEW GAME is the first row, field (100, 130); at scale 2 its centre is (201, 261).
  xdotool mousemove --window "$wid" 201 261
  sleep 0.15
  xdotool mousedown --window "$wid" 1; sleep 0.1; xdotool mouseup --window "$wid" 1
  sleep 0.5
  rec="$work/data/Rec/Rec1.dat"
  done_recording() { [ -f "$rec" ] && [ "$(od -An -tx1 -N8 "$rec" | tr -d ' 0\n')" != "" ]; }
  # The hand circles about the field's centre; one xdotool run moves the
  # pointer every few milliseconds.
  moves=$(awk -v w="$wid" 'BEGIN { for (i = 0; i < 300; i++) { a = i * 0.008;
    printf "mousemove --window %s %d %d sleep 0.004 ", w, 320 + 160 * sin(a), 240 + 110 * sin(a * 1.3) } }')
  # A few seconds at the normal pace, then Shift runs the rest of the play fast.
  for n in $(seq 40); do
    done_recording && break
    [ "$n" = 4 ] && xdotool keydown --window "$wid" shift
    # shellcheck disable=SC2086
    xdotool $moves
  done
  xdotool keyup --window "$wid" shift
  if done_recording; then
    pass "a play was recorded ($(stat -c %s "$rec") bytes)"
    ZT_REPLAY_DIR="$work/data" "$replayer" --gtest_filter='ReplayAgreement.*' >"$work/replay" 2>&1
    rc=$?
    if [ $rc -eq 0 ] && grep -q '^\[  PASSED  \] 1 test' "$work/replay" && ! grep -q SKIPPED "$work/replay"; then
      pass "the in-memory host replays the recording to the same score: $(grep -o 'replayed.*' "$work/replay")"
    else
      fail "replay disagrees:"; cat "$work/replay"
    fi
  else
    fail "no finished recording"
  fi
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=
fi

# Music switched on in the options of a run started without it plays the
# title at once, and is saved on; Esc on the title then ends the run with the
# fade heard to its end. SDL's disk driver records what the device plays
# (32-bit float stereo frames); effects are off so that only music sounds.
# rms FILE FROM FRAMES: the RMS of both channels over those frames.
rms() {
  od -An -v -f -w8 -j $(($2 * 8)) -N $(($3 * 8)) "$1" |
    awk '{ s += $1 * $1 + $2 * $2; n += 2 } END { printf "%.6f", n ? sqrt(s / n) : 0 }'
}
if [ -n "${ZT_SOUNDFONT:-}" ]; then
  rm -rf "$work/data"
  cp -r "$data" "$work/data"
  printf '[GameSetting]\r\nPlayMidi=0\r\nPlaySE=0\r\n' >"$work/data/Zentria.ini"
  rec=$work/music.raw
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$rec "$exe" --data-dir="$work/data" \
    --soundfont="$ZT_SOUNDFONT" >"$work/out9" 2>"$work/err9" &
  pid=$!
  wid=$(timeout 15 xdotool search --sync --name '^Zentropolium$' | head -1)
  xdotool windowfocus --sync "$wid" 2>/dev/null
  sleep 6.5     # the logo, then the title menu
  click_at 301 481  # OPTION
  sleep 1
  switched=$(($(stat -c %s "$rec") / 8))
  click_at 301 316  # PLAY MIDI MUSIC, field (100, 105)
  sleep 3
  press_key Escape  # back to the title menu, whose song goes on
  sleep 1
  press_key Escape  # the exit screen fades the song out over a second
  if ended_within 50; then
    wait "$pid"
    frames=$(($(stat -c %s "$rec") / 8))
    silent=$(rms "$rec" 0 "$switched")
    music=$(rms "$rec" $((switched + 22050)) 88200)
    last=$(rms "$rec" $((frames - 2205)) 2205)
    awk -v s="$silent" 'BEGIN { exit !(s < 0.0005) }' && pass "no music before the switch" \
      || fail "music before the switch: RMS $silent"
    awk -v m="$music" 'BEGIN { exit !(m > 0.02) }' && pass "the switch plays the title at once (RMS $music)" \
      || fail "after the switch the RMS is $music"
    awk -v m="$music" -v l="$last" 'BEGIN { exit !(l < m / 100) }' \
      && pass "the exit fade ends in silence (last 50 ms: RMS $last)" \
      || fail "the last 50 ms before the device closed: RMS $last against $music"
    grep -q '^PlayMidi=1' "$work/data/Zentria.ini" && pass "music switched on is saved" \
      || fail "Zentria.ini: $(cat "$work/data/Zentria.ini")"
  else
    fail "still running after Esc on the title menu with music"
  fi
  pid=
fi

# A start-up error shows its box; a key dismisses it and the status stays 2.
# The path is long enough that an unbroken line would be wider than the screen.
long="$work/$(printf 'a-long-folder-name-%02d/' $(seq 40))data"
"$exe" --data-dir="$long" >"$work/out5" 2>"$work/err5" &
pid=$!
box=
for _ in $(seq 200); do
  box=$(xwininfo -root -tree | awk '/"Zentropolium"/ {print $1; exit}')
  [ -n "$box" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -n "$box" ]; then
  box_width=$(xwininfo -id "$box" | awk '/Width:/ {print $2}')
  [ "$box_width" -le 1280 ] && pass "the error box fits the screen (${box_width} px wide)" \
    || fail "the error box is ${box_width} px wide"
  xdotool key --window "$box" Return
else
  fail "no error box"
fi
if ! ended_within 30; then
  fail "still running after the box was dismissed"
else
  wait "$pid"
  rc=$?
  [ $rc -eq 2 ] && pass "start-up error ends with status 2 after its box" || fail "status $rc after the box"
  grep -qxF "error: $long/images.qda not found" "$work/err5" \
    && pass "standard error keeps the whole path" || fail "stderr: $(cat "$work/err5")"
fi
pid=

# A damaged score file in a data folder the player may not write: the copy
# that must come before the default table replaces it cannot be made, so the
# file is not saved, which is said on standard error and in a box, once.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && [ -r "${XAUTHORITY:-/nonexistent}" ] \
  && setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$exe"; then
  ro=$work/read-only
  cp -r "$data" "$ro"
  head -c 321 /dev/urandom >"$ro/ZTScore.dat"
  cp "$ro/ZTScore.dat" "$work/damaged"
  chmod -R a-w "$ro"
  chmod 755 "$work"
  cp "$XAUTHORITY" "$work/xauth"
  chmod 644 "$work/xauth"
  setpriv --reuid=65534 --regid=65534 --clear-groups env XAUTHORITY="$work/xauth" HOME=/tmp \
    "$exe" --data-dir="$ro" --window=1 >"$work/out9" 2>"$work/err9" &
  pid=$!
  wid=$(timeout 15 xdotool search --sync --name '^Zentropolium$' | head -1)
  xdotool windowfocus --sync "$wid" 2>/dev/null
  sleep 0.5
  press_key Escape
  box=
  for _ in $(seq 100); do
    box=$(xwininfo -root -tree | awk -v w="$(printf '0x%x' "$wid")" '/"Zentropolium"/ && $1 != w {print $1; exit}')
    [ -n "$box" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$box" ] && xdotool key --window "$box" Return
  if ended_within 30; then
    wait "$pid"
    rc=$?
    saved="could not save $ro/ZTScore.dat: could not keep a copy of the damaged file (Permission denied)"
    [ -n "$box" ] && [ $rc -eq 0 ] && grep -qxF "$saved" "$work/err9" \
      && [ "$(grep -c 'ZTScore.dat' "$work/err9")" = 1 ] && cmp -s "$ro/ZTScore.dat" "$work/damaged" \
      && pass "a damaged score file that cannot be kept: one line, one box, the file as it was" \
      || fail "read-only damaged file: box '${box}', status $rc, $(cat "$work/err9")"
  else
    fail "still running after the save error's box"
  fi
  pid=
  chmod -R u+w "$ro"
fi

# A start without a chosen audio driver: whatever SDL finds or does not find,
# only the program's own one-line messages reach standard error.
env -u SDL_AUDIODRIVER "$exe" --data-dir="$work/data" --window=1 >"$work/out6" 2>"$work/err6" &
pid=$!
wid=$(timeout 15 xdotool search --sync --name '^Zentropolium$' | head -1)
if [ -n "$wid" ]; then
  xdotool windowfocus --sync "$wid" 2>/dev/null
  sleep 0.5
  end_on_logo
else
  fail "no window without an audio driver"
fi
if grep -q '^ALSA lib' "$work/err6"; then
  fail "ALSA printed its own lines: $(grep -c '^ALSA lib' "$work/err6")"
else
  pass "no ALSA lib line on standard error ($(grep -c '^sfx: ' "$work/err6") sfx line)"
fi

[ $failures -eq 0 ] || { echo "--- stderr"; cat "$work/err" "$work/err2" "$work/err3" "$work/err5" "$work/err6" "$work/err7" "$work/err8" "$work/err9" 2>/dev/null; }
exit $((failures > 0))
