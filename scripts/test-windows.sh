#!/usr/bin/env bash
# Cross-builds the Windows program's libraries and tests with mingw-w64 into
# build-win and runs them under Wine on a virtual X screen.
#   scripts/test-windows.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-win
jobs=$(nproc)
start=$(date +%s)

# A Linux build beside it (scripts/test-all.sh makes one first) gives the
# generated data directory and the Linux half of the cross-program replay.
linux=()
if [ -x "$root/build/tools/zt-replaycheck/zt-replaycheck" ] && [ -d "$root/build/data/Zentropolium 1.3" ]; then
  linux=(-DZT_LINUX_BUILD_DIR="$root/build")
fi
cmake -S windows -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DZT_WERROR=ON "${linux[@]}" "$@"
cmake --build "$build" -j"$jobs"
echo "build: $(( $(date +%s) - start )) s"

# A private Wine prefix and home: nothing of the user's Wine set-up leaks in.
export HOME=$build/home
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$HOME"
# DirectSound needs an ALSA device; the null device swallows the output.
cat > "$HOME/.asoundrc" <<'ALSA'
pcm.!default { type null }
ctl.!default { type hw card 0 }
ALSA
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null >/dev/null 2>&1
fi
# The prefix's settings (virtual desktop, Direct3D renderer, Japanese font
# replacements), applied again whenever they change.
if ! cmp -s "$root/scripts/wine-prefix.reg" "$WINEPREFIX/zt-applied.reg"; then
  wine regedit /S "$(winepath -w "$root/scripts/wine-prefix.reg" 2>/dev/null)" </dev/null >/dev/null 2>&1
  wineserver -w
  cp "$root/scripts/wine-prefix.reg" "$WINEPREFIX/zt-applied.reg"
fi
echo "prefix: $(( $(date +%s) - start )) s"

# The server and the desktop start detached: a Wine process that inherits
# ctest's pipe keeps it open and test discovery never ends.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1
  # Now and then a Wine process ends before the test program prints a line
  # (seen under load, a different test each time): such a test runs once more.
  # A test that fails on its own fails both runs.
  ctest --test-dir "$1" --output-on-failure -j"$2" --repeat until-pass:2
  rc=$?
  # A test picture on a 640x480x8 screen, kept up long enough to be taken.
  ZT_SHOW_SECONDS=4 wine "$1/media/zt-media-tests.exe" --gtest_filter=DisplayPicture.* \
    </dev/null >/dev/null 2>&1 &
  shown=$!
  sleep 3
  import -window root "$1/screenshot-640x480.png" || rc=1
  wait $shown || rc=1
  # The score editor with its table, its question to save, then the ranking
  # sender: each picture when the test announces it.
  ZT_PICTURE_DIR=$(winepath -w "$1") wine "$1/app/zt-forms-tests.exe" \
    --gtest_filter=FormPictures.* </dev/null >/dev/null 2>&1 &
  pictures=$!
  for name in score-editor message-box sender; do
    for i in $(seq 1 100); do [ -f "$1/$name.ready" ] && break; sleep 0.2; done
    sleep 0.5
    import -window root "$1/screenshot-$name.png" || rc=1
    rm -f "$1/$name.ready"
  done
  wait $pictures || rc=1
  # The launcher: a picture of it, then its close box (Alt+F4) ends it.
  wine "$1/app/Zentro.exe" </dev/null >/dev/null 2>&1 &
  launcher=$!
  for i in $(seq 1 50); do
    wid=$(xdotool search --name "^Zentropolium\$" 2>/dev/null | head -1)
    [ -n "$wid" ] && break
    sleep 0.2
  done
  sleep 2
  import -window root "$1/screenshot-launcher.png" || rc=1
  if [ -n "$wid" ]; then xdotool key --window "$wid" alt+F4 2>/dev/null; else rc=1; fi
  for i in $(seq 1 50); do kill -0 $launcher 2>/dev/null || break; sleep 0.2; done
  if kill -0 $launcher 2>/dev/null; then echo "launcher did not close"; kill $launcher; rc=1; fi
  wait $launcher || rc=1
  wineserver -k
  exit $rc' bash "$build" "$jobs"
rc=$?
echo "total: $(( $(date +%s) - start )) s"
exit $rc
