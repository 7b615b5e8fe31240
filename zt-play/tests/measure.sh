#!/bin/bash
# Figures of the real program, run by hand on a virtual X screen:
#   xvfb-run -a -s '-screen 0 1280x1024x24' zt-play/tests/measure.sh EXE DATA_DIR [SOUNDFONT]
# Twice, with music (SOUNDFONT, by default Debian's TimGM6mb) and without (no
# SoundFont): the time from start to the first picture shown, the renderer in
# use, the CPU share of one core over 20 s of the title menu with the busiest
# threads, the CPU share of SDL's audio thread alone, and the peak memory.
# The run with music also times the game steps over a minute of the title
# menu, where every step shows a picture. Last, when zt-sfx-latency stands
# beside EXE, how soon a sound effect is mixed after the game plays it.
# The pictures are seen through the hook library libzt-play-present-hook.so,
# taken from beside EXE unless ZT_PRESENT_HOOK names it. Measure on a quiet
# machine: the load average is printed first.
set -eu
exe=$1
data=$2
soundfont=${3:-/usr/share/sounds/sf2/TimGM6mb.sf2}
hook=${ZT_PRESENT_HOOK:-$(dirname "$exe")/libzt-play-present-hook.so}
[ -f "$hook" ] || { echo "no hook library at $hook"; exit 1; }
work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
export SDL_AUDIODRIVER=dummy
tick=$(getconf CLK_TCK)
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

presents() { grep -c "^$pid present " "$log" || true; }
# User plus system ticks of the process, or of one of its threads.
ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "$1"; }

# run LABEL STEP_SECONDS ARGS...
run() {
  local label=$1 step_seconds=$2
  shift 2
  rm -rf "$work/data"
  cp -r "$data" "$work/data"
  log=$work/$label.log
  : >"$log"
  local t0
  t0=$(date +%s%N)
  LD_PRELOAD=$hook ZT_PRESENT_LOG=$log "$exe" --data-dir="$work/data" "$@" 2>/dev/null &
  pid=$!
  local p=$pid
  # The logo runs 180 steps, then the title menu fades in over 52.
  until [ "$(presents)" -ge 240 ]; do
    kill -0 "$pid" 2>/dev/null || { echo "$label: the program ended"; exit 1; }
    sleep 0.1
  done
  local first renderer
  first=$(awk -v p="$pid" '$1 == p && $2 == "present" { print $3; exit }' "$log")
  renderer=$(awk -v p="$pid" '$1 == p && $2 == "renderer" { $1 = $2 = ""; sub(/^ +/, ""); r = $0 } END { print r }' "$log")

  declare -A before run_ns
  local task u1 u2 n1 n2
  for task in /proc/$pid/task/*; do
    before[$task]=$(ticks "$task/stat")
    run_ns[$task]=$(cut -d' ' -f1 "$task/schedstat")
  done
  u1=$(ticks /proc/$pid/stat)
  n1=$(presents)
  sleep 20
  u2=$(ticks /proc/$pid/stat)
  n2=$(presents)
  local threads=""
  for task in /proc/$pid/task/*; do
    [ -n "${before[$task]:-}" ] || continue
    local d=$(( $(ticks "$task/stat") - before[$task] ))
    [ $d -gt 0 ] && threads+="$(cat "$task/comm") $(awk -v d=$d -v t="$tick" 'BEGIN { printf "%.1f", d * 100 / t / 20 }')%, "
  done
  # SDL's audio thread, from the scheduler's nanosecond run time.
  local audio_thread="none"
  for task in /proc/$pid/task/*; do
    case "$(cat "$task/comm")" in
      SDLAudio*)
        audio_thread=$(awk -v a="${run_ns[$task]:-0}" -v b="$(cut -d' ' -f1 "$task/schedstat")" \
          -v n="$(cat "$task/comm")" 'BEGIN { printf "%s %.2f%% of one core", n, (b - a) / 2e8 }')
        ;;
    esac
  done
  [ "$step_seconds" -gt 20 ] && sleep $((step_seconds - 20))
  local peak
  peak=$(awk '/^VmHWM:/ { printf "%.0f", $2 / 1024 }' /proc/$pid/status)
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=

  echo "== $label"
  echo "first picture after $(( (first - t0) / 1000000 )) ms"
  echo "renderer: $renderer"
  awk -v d=$((u2 - u1)) -v t="$tick" -v n=$((n2 - n1)) \
    'BEGIN { printf "title menu: %.1f%% of one core over 20 s, %.1f pictures a second\n", d * 100 / t / 20, n / 20 }'
  echo "busiest threads: ${threads%, }"
  echo "audio thread: $audio_thread"
  echo "peak memory: $peak MB"
  if [ "$step_seconds" -gt 20 ]; then
    # The steps of the last STEP_SECONDS before the end, from the monotonic times.
    awk -v p="$p" -v s="$step_seconds" '$1 == p && $2 == "present" { t[n++] = $4 }
      END {
        last = t[n - 1]; i = n - 1
        while (i > 0 && last - t[i - 1] <= s * 1e9) i--
        k = n - 1 - i; span = (last - t[i]) / 1e6
        mx = 0; mn = 1e18
        for (j = i + 1; j < n; j++) { d = (t[j] - t[j - 1]) / 1e6; if (d > mx) mx = d; if (d < mn) mn = d }
        printf "steps over %.1f s: %d, mean %.4f ms (shortest %.2f, longest %.2f); drift from 25 ms steps %+.2f ms\n",
          span / 1000, k, span / k, mn, mx, span - 25 * k
      }' "$log"
  fi
}

run "music on ($(basename "$soundfont"))" 60 --soundfont="$soundfont"
run "music off (no SoundFont)" 20

latency=$(dirname "$exe")/zt-sfx-latency
if [ -x "$latency" ]; then
  echo "== sound effects (zt-sfx-latency, music on at volume 0)"
  OMP_WAIT_POLICY=passive "$latency" "$data" --effects=200 --soundfont="$soundfont"
fi
