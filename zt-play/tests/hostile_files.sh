#!/bin/bash
# The real program over files that are not what they should be: named pipes,
# devices, huge sparse files, files it may not read, a damaged score file and
# the temporary files of a killed run, each in a copy of the generated data.
#   hostile_files.sh EXE DATA_DIR HOOK [SOUNDFONT]
# No display is needed. HOOK is the present hook library, whose log tells when
# the title menu is on screen; SOUNDFONT, when given, makes the program read
# the songs. Every run is watched: one that does not reach the title menu or
# does not end on SIGTERM fails. Exit 77 means skipped.
set -u
exe=$1
data=$2
hook=$3
soundfont=${4:-}
[ -f "$data/images.qda" ] || { echo "no generated data directory at $data"; exit 77; }
[ -f "$hook" ] || { echo "no present hook at $hook"; exit 77; }

work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
  for f in "$work"/*/pid "$work"/*/holder.pid; do
    [ -f "$f" ] && kill -9 "$(cat "$f")" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
export SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=dummy
unset DISPLAY WAYLAND_DISPLAY
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# A sanitizer build reserves terabytes of address space and keeps some of
# SDL's allocations to the end: no address-space limit and no leak check there
# (the in-process tests check the program's own code).
sanitized=
if ldd "$exe" 2>/dev/null | grep -q libasan; then
  sanitized=1
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0:verify_asan_link_order=0"
fi
# The address space of a run: a whole-file read of an 8 GiB file ends in
# std::bad_alloc well before this.
limit_kib=4000000
peak_limit_kib=$((300 * 1024))
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# prepare NAME: a fresh copy of the data in $work/NAME/data.
prepare() {
  mkdir -p "$work/$1"
  cp -r "$data" "$work/$1/data"
}
# launch NAME [PREFIX... --] [ARGS...]: starts the program on NAME's data, in
# the background, under the address-space limit.
launch() {
  local name=$1 dir=$work/$1
  shift
  local prefix=()
  if [ "${1:-}" = as-nobody ]; then
    prefix=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    shift
  fi
  : >"$dir/log"
  [ ${#prefix[@]} -gt 0 ] && chown 65534:65534 "$dir" "$dir/log"
  local limit="ulimit -v $limit_kib"
  [ -n "$sanitized" ] && limit=:
  now_ms >"$dir/t0"
  env LD_PRELOAD="$hook" ZT_PRESENT_LOG="$dir/log" \
    bash -c "$limit; exec \"\$@\"" - ${prefix[@]+"${prefix[@]}"} \
    "$exe" --data-dir="$dir/data" "$@" >"$dir/out" 2>"$dir/err" &
  echo $! >"$dir/pid"
}
# reach_title NAME: waits (at most 40 s) for the title menu: the logo shows
# 180 pictures, the menu follows. Sets $elapsed (s) and $peak_kib.
reach_title() {
  local dir=$work/$1 pid
  pid=$(cat "$dir/pid")
  for _ in $(seq 400); do
    [ "$(grep -c ' present ' "$dir/log")" -ge 200 ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  elapsed=$(awk -v a="$(cat "$dir/t0")" -v b="$(now_ms)" 'BEGIN { printf "%.1f", (b - a) / 1000 }')
  peak_kib=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null)
  [ "$(grep -c ' present ' "$dir/log")" -ge 200 ]
}
# finish NAME: SIGTERM, as a desktop ends a program; sets $status.
finish() {
  local dir=$work/$1 pid
  pid=$(cat "$dir/pid")
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    fail "$1: still running 10 s after SIGTERM"
    kill -9 "$pid"
  fi
  wait "$pid" 2>/dev/null
  status=$?
  rm -f "$dir/pid"
}
# has_line NAME LINE: standard error of the run holds the line.
has_line() { grep -qxF "$2" "$work/$1/err"; }
# title_run NAME WHAT LINE...: the run reaches the title menu, ends on SIGTERM
# with status 0 and printed every line.
title_run() {
  local name=$1 what=$2
  shift 2
  if ! reach_title "$name"; then
    fail "$what: no title menu within ${elapsed} s"; cat "$work/$name/err"
    finish "$name"
    return 1
  fi
  finish "$name"
  local missing=
  for line in "$@"; do has_line "$name" "$line" || missing="$missing [$line]"; done
  if [ "$status" -ne 0 ]; then
    fail "$what: status $status"; cat "$work/$name/err"
  elif [ -n "$missing" ]; then
    fail "$what: missing$missing"; cat "$work/$name/err"
  else
    pass "$what: title menu after $elapsed s, peak ${peak_kib} KiB, ended on request"
    return 0
  fi
  return 1
}
is_fifo() { [ -p "$1" ]; }

# ---- Named pipes: each in its own run, all at once ----
fifo_cases=(Zentria.ini ZTScore.dat sounds.qda title.mid stage.mid)
for f in "${fifo_cases[@]}"; do
  prepare "fifo-$f"
  rm -f "$work/fifo-$f/data/$f"
  mkfifo "$work/fifo-$f/data/$f"
  if [[ $f = *.mid && -n "$soundfont" ]]; then
    launch "fifo-$f" --soundfont="$soundfont"
  else
    launch "fifo-$f"
  fi
done
prepare fifo-sf2
mkfifo "$work/fifo-sf2/music.sf2"
launch fifo-sf2 --soundfont="$work/fifo-sf2/music.sf2"
prepare fifo-images
rm "$work/fifo-images/data/images.qda"
mkfifo "$work/fifo-images/data/images.qda"
launch fifo-images

# ---- A folder another user owns, with the player's files the player may not read ----
unreadable=
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null \
  && setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$exe"; then
  unreadable=1
  prepare unreadable
  d=$work/unreadable/data
  printf '[GameSetting]\r\nPlaySE=0\r\n[SystemSetting]\r\n; my own notes\r\n' >"$d/Zentria.ini"
  head -c 320 /dev/urandom >"$d/ZTScore.dat"
  cp "$d/Zentria.ini" "$d/ZTScore.dat" "$work/unreadable/"
  chown -R 65534:65534 "$d"
  chown 0:0 "$d/Zentria.ini" "$d/ZTScore.dat"
  chmod 600 "$d/Zentria.ini" "$d/ZTScore.dat"
  launch unreadable as-nobody

  # A damaged score file in a folder the player may not write: no copy can be
  # kept, so the file is not saved, which is said once as any failed save.
  prepare damaged-read-only
  d=$work/damaged-read-only/data
  head -c 321 /dev/urandom >"$d/ZTScore.dat"
  cp "$d/ZTScore.dat" "$work/damaged-read-only/original"
  chmod -R a-w "$d"
  launch damaged-read-only as-nobody

  # A damaged score file that can never be replaced (a shared folder whose
  # sticky bit keeps another's file): an earlier run kept its bytes, and
  # this run keeps no second copy of them.
  prepare damaged-kept
  d=$work/damaged-kept/data
  head -c 319 /dev/urandom >"$d/ZTScore.dat"
  cp "$d/ZTScore.dat" "$d/ZTScore.dat.damaged"
  cp "$d/ZTScore.dat" "$work/damaged-kept/original"
  chmod 1777 "$d"
  launch damaged-kept as-nobody
else
  echo "skipped: the unreadable files need root and setpriv"
fi

# ---- Damaged score files: a copy is kept before the default table replaces them ----
prepare damaged
head -c 321 /dev/urandom >"$work/damaged/data/ZTScore.dat"
cp "$work/damaged/data/ZTScore.dat" "$work/damaged/original"
launch damaged
prepare damaged-again
head -c 319 /dev/urandom >"$work/damaged-again/data/ZTScore.dat"
cp "$work/damaged-again/data/ZTScore.dat" "$work/damaged-again/original"
printf 'an earlier copy' >"$work/damaged-again/data/ZTScore.dat.damaged"
launch damaged-again

# ---- Temporary files of a killed run ----
prepare stale
sleep 0 &
dead=$!
wait "$dead"
d=$work/stale/data
stale=(".ZTScore.dat.$dead.1.tmp" ".Zentria.ini.$dead.4.tmp" "Rec/.Rec1.dat.$dead.2.tmp")
kept=(".ZTScore.dat.$$.1.tmp" "Rec/.Rec2.dat.$$.3.tmp" ".ZTScore.dat.$dead.1.tmp.old" "notes.$dead.1.tmp")
for f in "${stale[@]}" "${kept[@]}"; do printf 'x' >"$d/$f"; touch -d '2 minutes ago' "$d/$f"; done
# Written a moment ago, as the Windows program under Wine on the same folder
# would, with a process id this system does not know: kept.
kept+=(".Zentria.ini.$dead.7.tmp")
printf 'x' >"$d/.Zentria.ini.$dead.7.tmp"
launch stale

# ---- A recording held by a live process whose id this system cannot see ----
# The host's own recording, paused for two minutes, under the name the
# Windows program under Wine gives it (a process id unknown here); links
# named like temporary files, an hour old, to the player's files elsewhere.
held=
if [ -n "${ZT_HOLD_RECORDING:-}" ] && [ -x "$ZT_HOLD_RECORDING" ]; then
  held=1
  prepare held
  d=$work/held/data
  "$ZT_HOLD_RECORDING" "$d" 1 120 >"$work/held/holder" &
  echo $! >"$work/held/holder.pid"
  for _ in $(seq 100); do [ -s "$work/held/holder" ] && break; sleep 0.1; done
  held_temp=$d/Rec/.Rec1.dat.$dead.1.tmp
  mv "$(head -1 "$work/held/holder")" "$held_temp"
  touch -d '2 minutes ago' "$held_temp"
  held_inode=$(stat -c %i "$held_temp")
  mkdir "$work/held/elsewhere"
  links=(".ZTScore.dat.$dead.1.tmp" "Rec/.Rec2.dat.$dead.1.tmp" ".ScrSht3.bmp.$dead.2.tmp")
  for link in "${links[@]}"; do
    target=$work/held/elsewhere/$(basename "$link")
    printf 'mine' >"$target"
    ln -s "$target" "$d/$link"
    touch -d '1 hour ago' "$target"
    touch -h -d '1 hour ago' "$d/$link"
  done
  launch held
else
  echo "skipped: no recording holder (ZT_HOLD_RECORDING)"
fi

# ---- What each run shows ----
for f in "${fifo_cases[@]}"; do
  d=$work/fifo-$f/data
  case $f in
    Zentria.ini) lines=("could not read $d/$f (not a regular file); using the default settings") ;;
    ZTScore.dat)
      lines=("could not read $d/$f (not a regular file); using the default score table"
        "did not save $d/$f: it could not be read at start (not a regular file)")
      ;;
    sounds.qda) lines=("sfx: could not read $d/$f (not a regular file)") ;;
    *.mid)
      lines=()
      [ -n "$soundfont" ] && lines=("midi: could not read $d/$f (not a regular file)")
      ;;
  esac
  title_run "fifo-$f" "a pipe as $f" "${lines[@]}"
  is_fifo "$d/$f" || fail "the pipe $f was replaced"
done
sf2=$work/fifo-sf2/music.sf2
title_run fifo-sf2 "a pipe as the SoundFont" "midi: could not load $sf2 ($sf2: not a regular file)"

# A pipe as the archive is no archive: the start-up error, at once.
pid=$(cat "$work/fifo-images/pid")
for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  fail "a pipe as images.qda: still running after 20 s"
  finish fifo-images
else
  wait "$pid"
  status=$?
  rm -f "$work/fifo-images/pid"
  [ $status -eq 2 ] && has_line fifo-images "error: $work/fifo-images/data/images.qda not found" \
    && pass "a pipe as images.qda: the start-up error" \
    || fail "a pipe as images.qda: status $status, $(cat "$work/fifo-images/err")"
fi

if [ -n "$unreadable" ]; then
  d=$work/unreadable/data
  title_run unreadable "files the player may not read" \
    "could not read $d/Zentria.ini (Permission denied); using the default settings" \
    "could not read $d/ZTScore.dat (Permission denied); using the default score table" \
    "did not save $d/ZTScore.dat: it could not be read at start (Permission denied)"
  cmp -s "$d/Zentria.ini" "$work/unreadable/Zentria.ini" && cmp -s "$d/ZTScore.dat" "$work/unreadable/ZTScore.dat" \
    && pass "the unreadable files are unchanged after the exit" || fail "an unreadable file was written over"

  d=$work/damaged-read-only/data
  line="could not save $d/ZTScore.dat: could not keep a copy of the damaged file (Permission denied)"
  title_run damaged-read-only "a damaged score file in a read-only folder" "$line"
  [ "$(grep -c 'ZTScore.dat' "$work/damaged-read-only/err")" = 1 ] \
    && cmp -s "$d/ZTScore.dat" "$work/damaged-read-only/original" && ! [ -e "$d/ZTScore.dat.damaged" ] \
    && pass "it is reported once as not saved, and stays as it was" \
    || fail "the read-only damaged file: $(cat "$work/damaged-read-only/err")"

  d=$work/damaged-kept/data
  title_run damaged-kept "a damaged score file kept by an earlier run" \
    "the damaged $d/ZTScore.dat is already kept as $d/ZTScore.dat.damaged" \
    "could not save $d/ZTScore.dat: Operation not permitted"
  cmp -s "$d/ZTScore.dat.damaged" "$work/damaged-kept/original" && ! [ -e "$d/ZTScore.dat.damaged.2" ] \
    && pass "no second copy of the same bytes" || fail "the copies: $(ls "$d" | grep damaged)"
fi

d=$work/damaged/data
title_run damaged "a damaged score file" "kept the damaged $d/ZTScore.dat as $d/ZTScore.dat.damaged"
cmp -s "$d/ZTScore.dat.damaged" "$work/damaged/original" && [ "$(stat -c %s "$d/ZTScore.dat")" = 320 ] \
  && pass "its bytes survive the exit beside the new table" || fail "the damaged file's bytes are lost"
d=$work/damaged-again/data
title_run damaged-again "a second damaged score file" \
  "kept the damaged $d/ZTScore.dat as $d/ZTScore.dat.damaged.2"
cmp -s "$d/ZTScore.dat.damaged.2" "$work/damaged-again/original" \
  && [ "$(cat "$d/ZTScore.dat.damaged")" = "an earlier copy" ] \
  && pass "an earlier copy is never overwritten" || fail "the copies: $(ls "$d")"

d=$work/stale/data
removed_lines=()
for f in "${stale[@]}"; do removed_lines+=("removed the stale temporary file $d/$f"); done
title_run stale "temporary files of a killed run, each named" "${removed_lines[@]}"
[ "$(grep -c '^removed the stale temporary file' "$work/stale/err")" = ${#stale[@]} ] \
  || fail "named $(grep -c '^removed the stale' "$work/stale/err") files, not ${#stale[@]}"
gone=0
for f in "${stale[@]}"; do [ -e "$d/$f" ] && fail "left: $f" || gone=$((gone + 1)); done
for f in "${kept[@]}"; do [ -e "$d/$f" ] || fail "removed: $f"; done
[ $gone -eq ${#stale[@]} ] && pass "the $gone stale temporary files are removed, a live process's are kept"

if [ -n "$held" ]; then
  d=$work/held/data
  title_run held "a held recording and links named like temporary files"
  [ "$(stat -c %i "$held_temp" 2>/dev/null)" = "$held_inode" ] \
    && pass "the recording of a process this system cannot see stays while it is held" \
    || fail "the held recording was removed"
  ok=1
  for link in "${links[@]}"; do
    [ -L "$d/$link" ] && [ "$(cat "$work/held/elsewhere/$(basename "$link")")" = mine ] || ok=
  done
  [ -n "$ok" ] && pass "the links stay, and the files they lead to" || fail "a link or its file is gone"
  grep -q '^removed' "$work/held/err" && fail "removed: $(cat "$work/held/err")"
  kill "$(cat "$work/held/holder.pid")" 2>/dev/null
fi

# ---- Huge files and devices, one run after the other ----
prepare huge
d=$work/huge/data
truncate -s 8G "$d/Zentria.ini" "$d/sounds.qda" "$d/title.mid"
ln -s /dev/zero "$d/ZTScore.dat"
if [ -n "$soundfont" ]; then launch huge --soundfont="$soundfont"; else launch huge; fi
lines=("could not read $d/Zentria.ini (larger than 1048576 bytes); using the default settings"
  "could not read $d/ZTScore.dat (not a regular file); using the default score table"
  "sfx: could not read $d/sounds.qda (larger than 33554432 bytes)")
[ -n "$soundfont" ] && lines+=("midi: could not read $d/title.mid (larger than 16777216 bytes)")
if title_run huge "8 GiB settings, archive and song, the score file a link to /dev/zero" "${lines[@]}"; then
  [ -n "$sanitized" ] || [ "$peak_kib" -lt "$peak_limit_kib" ] || fail "peak memory $peak_kib KiB"
fi
[ "$(stat -c %s "$d/Zentria.ini")" = 8589934592 ] && [ -L "$d/ZTScore.dat" ] \
  && pass "the huge settings file and the link stay as they were" || fail "a huge file was written over"

prepare huge-score
d=$work/huge-score/data
truncate -s 8G "$d/ZTScore.dat"
ln -sf /dev/zero "$d/stage.mid"
if [ -n "$soundfont" ]; then launch huge-score --soundfont="$soundfont"; else launch huge-score; fi
lines=("could not read $d/ZTScore.dat (larger than 65536 bytes); using the default score table")
[ -n "$soundfont" ] && lines+=("midi: could not read $d/stage.mid (not a regular file)")
if title_run huge-score "an 8 GiB score file, a song linked to /dev/zero" "${lines[@]}"; then
  [ -n "$sanitized" ] || [ "$peak_kib" -lt "$peak_limit_kib" ] || fail "peak memory $peak_kib KiB"
fi
[ "$(stat -c %s "$d/ZTScore.dat")" = 8589934592 ] || fail "the huge score file was written over"

prepare huge-sf2
truncate -s 8G "$work/huge-sf2/music.sf2"
launch huge-sf2 --soundfont="$work/huge-sf2/music.sf2"
sf2=$work/huge-sf2/music.sf2
if title_run huge-sf2 "an 8 GiB SoundFont" "midi: could not load $sf2 ($sf2: larger than 536870912 bytes)"; then
  [ -n "$sanitized" ] || [ "$peak_kib" -lt "$peak_limit_kib" ] || fail "peak memory $peak_kib KiB"
fi

prepare huge-images
truncate -s 8G "$work/huge-images/data/images.qda"
launch huge-images
pid=$(cat "$work/huge-images/pid")
for _ in $(seq 400); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && finish huge-images
wait "$pid" 2>/dev/null
status=$?
rm -f "$work/huge-images/pid"
elapsed=$(awk -v a="$(cat "$work/huge-images/t0")" -v b="$(now_ms)" 'BEGIN { printf "%.1f", (b - a) / 1000 }')
[ $status -eq 2 ] \
  && has_line huge-images "error: $work/huge-images/data/images.qda: larger than 33554432 bytes" \
  && pass "an 8 GiB images.qda: the start-up error after $elapsed s" \
  || fail "an 8 GiB images.qda: status $status, $(cat "$work/huge-images/err")"

exit $((failures > 0))
