#!/usr/bin/env bash
# Both programs on one folder, as a player may run them side by side: Zentro
# under Wine and zt-play on the same data. Neither can see the other's
# process ids. A recording that each holds open while its player pauses (no
# write for minutes) survives the start of the other program, and of its
# own; links named like temporary files stay and what they lead to is never
# touched; the temporary files of killed runs still go, named by zt-play.
#   shared_folder.sh ZENTRO_EXE HOLD_REPLACEMENT_EXE DATA_DIR LINUX_BUILD_DIR WORK_DIR
# Runs under the Windows tests' Wine prefix and X screen. Exit 77: skipped.
set -uo pipefail
zentro=$1 hold_exe=$2 data=$3 linux=$4 work=$5
play=$linux/zt-play/zt-play
hook=$linux/zt-play/libzt-play-present-hook.so
hold=$linux/zt-host/zt-hold-recording
for f in "$play" "$hook" "$hold" "$data/images.qda"; do
  [ -e "$f" ] || { echo "skipped: no $f"; exit 77; }
done
command -v xdotool >/dev/null || { echo "skipped: no xdotool"; exit 77; }

rm -rf "$work"
mkdir -p "$work/elsewhere"
cp -r "$data" "$work/data"
d=$work/data
mkdir -p "$d/Rec"
cp "$zentro" "$hold_exe" "$d/"
export SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=dummy
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
holders=()
cleanup() { for p in "${holders[@]}"; do kill -9 "$p" 2>/dev/null; done; }
trap cleanup EXIT

# Each program's recording, held by its own system's writer through the
# program's own code.
(cd "$d" && exec wine zt-hold-replacement.exe 'Rec\Rec1.dat' 90 </dev/null >"$work/wine-held" 2>&1) &
holders+=($!)
"$hold" "$d" 2 90 >"$work/linux-held" &
holders+=($!)
wine_temp= linux_temp=
for _ in $(seq 150); do
  wine_temp=$(ls "$d"/Rec/.Rec1.dat.*.tmp 2>/dev/null | head -1)
  linux_temp=$(head -1 "$work/linux-held")
  [ -n "$wine_temp" ] && [ -n "$linux_temp" ] && grep -q tmp "$work/wine-held" && break
  sleep 0.2
done
[ -n "$wine_temp" ] && [ -n "$linux_temp" ] || { echo "FAIL: the recordings did not start"; exit 1; }
# Paused for two minutes.
touch -d '2 minutes ago' "$wine_temp" "$linux_temp"
inode() { stat -c %i "$1" 2>/dev/null; }
wine_inode=$(inode "$wine_temp")
linux_inode=$(inode "$linux_temp")

# A process id that is gone here; Wine's ids are far smaller.
sleep 0 &
dead=$!
wait "$dead"
# Links named like temporary files, an hour old, to the player's files elsewhere.
links=(".ZTScore.dat.$dead.1.tmp" "Rec/.Rec3.dat.$dead.1.tmp" ".ScrSht3.bmp.$dead.2.tmp")
for link in "${links[@]}"; do
  target=$work/elsewhere/$(basename "$link")
  printf 'the player%s own file' "'s" >"$target"
  ln -s "$target" "$d/$link"
  touch -d '1 hour ago' "$target"
  touch -h -d '1 hour ago' "$d/$link"
done
stale=$d/.ZTScore.dat.$dead.7.tmp
make_stale() { printf 'x' >"$stale"; touch -d '2 minutes ago' "$stale"; }

# run_zt_play NAME: zt-play on the folder until it shows its first picture
# (its clean-up is done by then), then SIGTERM.
run_zt_play() {
  : >"$work/$1.log"
  LD_PRELOAD=$hook ZT_PRESENT_LOG=$work/$1.log "$play" --data-dir="$d" \
    </dev/null >"$work/$1.out" 2>"$work/$1.err" &
  local p=$!
  for _ in $(seq 200); do
    grep -q ' present ' "$work/$1.log" && break
    kill -0 "$p" 2>/dev/null || break
    sleep 0.1
  done
  grep -q ' present ' "$work/$1.log" || { fail "$1: zt-play showed nothing"; cat "$work/$1.err"; }
  kill -TERM "$p" 2>/dev/null
  wait "$p"
}
# run_zentro: Zentro.exe in the folder until its launcher shows (its clean-up
# runs before), then ended.
run_zentro() {
  (cd "$d" && exec wine Zentro.exe </dev/null >"$work/zentro.log" 2>&1) &
  local p=$! wid=
  for _ in $(seq 100); do
    wid=$(xdotool search --name '^Zentropolium$' 2>/dev/null | head -1)
    [ -n "$wid" ] && break
    sleep 0.2
  done
  [ -n "$wid" ] || fail "Zentro's launcher did not show"
  kill "$p" 2>/dev/null
  wait "$p" 2>/dev/null
  for _ in $(seq 50); do xdotool search --name '^Zentropolium$' >/dev/null 2>&1 || break; sleep 0.2; done
}
# survivors WHO: what must stay after WHO's start is there and unchanged.
survivors() {
  [ "$(inode "$wine_temp")" = "$wine_inode" ] && pass "$1: Zentro's held recording stays" \
    || fail "$1: Zentro's held recording $wine_temp was removed"
  [ "$(inode "$linux_temp")" = "$linux_inode" ] && pass "$1: zt-play's held recording stays" \
    || fail "$1: zt-play's held recording $linux_temp was removed"
  local link ok=1
  for link in "${links[@]}"; do
    [ -L "$d/$link" ] || { fail "$1: the link $link is gone"; ok=; }
    [ "$(cat "$work/elsewhere/$(basename "$link")" 2>/dev/null)" = "the player's own file" ] \
      || { fail "$1: the file $link leads to is touched"; ok=; }
  done
  [ -n "$ok" ] && pass "$1: the links and the files they lead to stay"
  [ -e "$stale" ] && fail "$1: a killed run's temporary file stays" \
    || pass "$1: a killed run's temporary file goes"
}

make_stale
run_zt_play zt-play
survivors "zt-play"
grep -qxF "removed the stale temporary file $stale" "$work/zt-play.err" \
  && pass "zt-play names the file it removed" || { fail "zt-play named nothing"; cat "$work/zt-play.err"; }
grep -q "removed the stale temporary file .*\.tmp" <(grep -vxF "removed the stale temporary file $stale" "$work/zt-play.err") \
  && fail "zt-play removed more: $(cat "$work/zt-play.err")"

make_stale
run_zentro
survivors "Zentro"

# Both writers end without a word, as a killed run does: what they held is
# now a leftover like any other, and goes at the next start.
for p in "${holders[@]}"; do kill -9 "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
holders=()
run_zt_play zt-play-after
[ ! -e "$wine_temp" ] && [ ! -e "$linux_temp" ] \
  && grep -qxF "removed the stale temporary file $wine_temp" "$work/zt-play-after.err" \
  && grep -qxF "removed the stale temporary file $linux_temp" "$work/zt-play-after.err" \
  && pass "once their writers are gone, both recordings go" \
  || { fail "the recordings of ended writers: $(ls -a "$d/Rec")"; cat "$work/zt-play-after.err"; }

echo "$failures failed"
exit $((failures > 0))
