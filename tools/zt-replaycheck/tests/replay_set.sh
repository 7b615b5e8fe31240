#!/usr/bin/env bash
# Records the set of scripted plays with each recorder and replays every
# recording with each replayer. Whichever build made them, the recordings, the
# replay reports (score, counters, the hash of every presented picture) and
# the replayed files must be the same bytes, and every replay must end its
# play as the recording did. Prints one line per play.
#   replay_set.sh DATA_DIR WORK_DIR [--only PLAY...] --record NAME=TOOL... --replay NAME=TOOL...
# A TOOL whose name ends in .exe runs under Wine.
set -euo pipefail
data=$1 work=$2
shift 2
only=() recorders=() replayers=() list=
for arg in "$@"; do
  case $arg in
    --only | --record | --replay) list=$arg ;;
    *)
      case $list in
        --only) only+=("$arg") ;;
        --record) recorders+=("$arg") ;;
        --replay) replayers+=("$arg") ;;
        *) echo "replay_set.sh: unexpected $arg" >&2; exit 2 ;;
      esac ;;
  esac
done
[ ${#recorders[@]} -gt 0 ] && [ ${#replayers[@]} -gt 0 ] || { echo "replay_set.sh: no recorder or replayer" >&2; exit 2; }

# run TOOL MODE DIR: one run of a build's zt-replaycheck on DIR.
run() {
  local tool=$1 mode=$2 dir=$3
  if [[ $tool == *.exe ]]; then
    wine "$tool" "$mode" "$(winepath -w "$data" 2>/dev/null)" "$(winepath -w "$dir" 2>/dev/null)" \
      "${only[@]}" </dev/null | tr -d '\r'
  else
    "$tool" "$mode" "$data" "$dir" "${only[@]}"
  fi
}

# same A B WHAT: the two files hold the same bytes.
same() {
  cmp -s "$1" "$2" || { echo "FAILED: $3 differ: $1 $2" >&2; exit 1; }
}

rm -rf "$work"
mkdir -p "$work"
start=$SECONDS

first=
for r in "${recorders[@]}"; do
  name=${r%%=*} tool=${r#*=}
  run "$tool" record "$work/rec-$name" >"$work/rec-$name.txt"
  if [ -z "$first" ]; then
    first=$name
    compgen -G "$work/rec-$name/*.dat" >/dev/null || { echo "FAILED: $name recorded nothing" >&2; exit 1; }
  else
    for f in "$work/rec-$first"/*; do
      same "$f" "$work/rec-$name/${f##*/}" "the recordings of $first and $name"
    done
  fi
done

# The whole set covers what it is there for: thousands of frames with dozens
# of hits in every play, every judgement, the gravity flipped both ways, and
# every way a play can end.
if [ ${#only[@]} -eq 0 ]; then
  awk '
    FNR == 1 { play = $2 }
    $1 == "ended" { sub(/^ended /, ""); ended[$0] = 1 }
    $1 == "play_frame" && $2 < 2000 { print "FAILED: " play " has only " $2 " play frames"; bad = 1 }
    $1 == "destroyed" {
      hits = 0
      for (i = 2; i <= 6; i++) { hits += $i; judged[i] += $i }
      if (hits < 24) { print "FAILED: " play " has only " hits " hits"; bad = 1 }
    }
    $1 == "flips" && $2 >= 2 { flipped = 1 }
    END {
      for (i = 2; i <= 6; i++) if (!judged[i]) { print "FAILED: no hit is judged " i - 2; bad = 1 }
      if (!flipped) { print "FAILED: no play flips the gravity both ways"; bad = 1 }
      n = split("line cut,time up,C key", ways, ",")
      for (i = 1; i <= n; i++) if (!(ways[i] in ended)) { print "FAILED: no play ends by " ways[i]; bad = 1 }
      exit bad
    }' "$work/rec-$first"/*.record.txt >&2
fi

ref=
for p in "${replayers[@]}"; do
  name=${p%%=*} tool=${p#*=}
  for r in "${recorders[@]}"; do
    dir=$work/$name-replays-${r%%=*}
    mkdir -p "$dir"
    cp "$work/rec-${r%%=*}"/*.dat "$dir"/
    run "$tool" replay "$dir" >"$dir.txt"
    if [ -z "$ref" ]; then
      ref=$dir
    else
      for f in "$ref"/*.replay.txt "$ref"/*.replayed.dat; do
        same "$f" "$dir/${f##*/}" "the replays ${ref##*/} and ${dir##*/}"
      done
      same "$ref.txt" "$dir.txt" "the printed lines of ${ref##*/} and ${dir##*/}"
    fi
  done
done

# A replay comes to what its recording came to from the stage intro on; only
# the menus before and the pictures may differ (the recorder mark, the ranks
# a replay does not reveal).
for f in "$work/rec-$first"/*.record.txt; do
  play=${f##*/}
  play=${play%.record.txt}
  diff <(sed '/^frames /Q' "$f") <(sed '/^frames /Q' "$ref/$play.replay.txt") >/dev/null ||
    { echo "FAILED: the replay of $play ended otherwise than its recording" >&2; exit 1; }
done

cat "$ref.txt"
echo "replay set: $(ls "$ref"/*.replay.txt | wc -l) plays identical across ${recorders[*]%%=*} -> ${replayers[*]%%=*} ($((SECONDS - start)) s)"
