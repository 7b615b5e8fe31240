#!/usr/bin/env bash
# Zentro.exe on a copy of the generated data directory, on Wine's virtual
# desktop: the logo, the title menu, Esc through the exit screen, and the
# score and settings files written at the end; then once more with pipes in
# their places.
#   zentro_e2e.sh ZENTRO_EXE DATA_DIR WORK_DIR
set -euo pipefail
exe=$1 data=$2 work=$3
rm -rf "$work"
cp -r "$data" "$work"
cp "$exe" "$work/"
cd "$work"

# Starts Zentro.exe (its output in LOG) and waits for its launcher.
start_zentro() {
  wine Zentro.exe </dev/null >"$1" 2>&1 &
  pid=$!
  local wid=""
  for _ in $(seq 1 50); do
    wid=$(xdotool search --name '^Zentropolium$' 2>/dev/null | head -1 || true)
    [ -n "$wid" ] && break
    sleep 0.2
  done
  if [ -z "$wid" ]; then
    echo "the launcher did not open" >&2
    kill $pid
    exit 1
  fi
  sleep 1
}

# Waits for Zentro.exe to end; WHY says what it did not end after.
wait_for_the_end() {
  for _ in $(seq 1 40); do kill -0 $pid 2>/dev/null || break; sleep 0.25; done
  if kill -0 $pid 2>/dev/null; then
    kill $pid
    echo "Zentro.exe did not end $1" >&2
    exit 1
  fi
  wait $pid
}

rm -f ZTScore.dat Zentria.ini
# Zentro starts on its launcher; its first button starts the game.
start_zentro zentro.log
import -window root ../zentro-launcher.png
# The game button, centred on the 1024x768 virtual desktop.
xdotool mousemove 514 382
sleep 0.2
xdotool click 1
sleep 3
import -window root ../zentro-logo.png
sleep 7.5
import -window root ../zentro-title.png
# OPTION, on the title menu's third line, and back with Esc.
xdotool mousemove 320 318
sleep 0.3
xdotool click 1
sleep 1.5
import -window root ../zentro-options.png
xdotool key Escape
sleep 1
import -window root ../zentro-title-again.png
xdotool key Escape
sleep 0.6
import -window root ../zentro-exit.png
wait_for_the_end "after Esc on the title menu"
test "$(stat -c %s ZTScore.dat)" = 320
grep -q '^AppearedMaxRank=E' Zentria.ini
grep -q '^PlaySE=1' Zentria.ini
# Every picture is a real screen, and the options screen is not the menu.
for shot in logo title options title-again; do
  colours=$(convert "../zentro-$shot.png" -format %k info:)
  echo "$shot: $colours colours"
  test "$colours" -gt 16
done
! cmp -s ../zentro-title.png ../zentro-options.png

# Pipes in the places of the settings and the score file are no files to
# read or to replace: the game starts with its defaults, ends on Esc from the
# title menu, and leaves both pipes as they were.
rm -f ZTScore.dat Zentria.ini
mkfifo ZTScore.dat Zentria.ini
start_zentro zentro-pipes.log
xdotool mousemove 514 382
sleep 0.2
xdotool click 1
sleep 10.5
xdotool key Escape
wait_for_the_end "with pipes as its settings and score file"
test -p ZTScore.dat && test -p Zentria.ini
