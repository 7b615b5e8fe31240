#!/usr/bin/env bash
# run-fuzzers.sh BUILD_DIR SECONDS: runs every *_fuzz target found in the
# build tree at once, each for SECONDS; any crash or sanitizer report fails.
set -euo pipefail
# Absolute, because each fuzzer runs in its own work directory.
build=$(cd "$1" && pwd)
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
mapfile -t fuzzers < <(find "$build" -type f -name '*_fuzz' -perm -u+x | sort)
if [ ${#fuzzers[@]} -eq 0 ]; then
  echo "no fuzz targets built" >&2
  exit 1
fi
work=$(mktemp -d)
pids=()
for f in "${fuzzers[@]}"; do
  name=$(basename "$f")
  corpus="$work/$name"
  mkdir -p "$corpus"
  # Seeds kept in the source tree start the search from valid inputs.
  seeds=$(find "$root" -path "$root/build*" -prune -o -type d -path "*/fuzz/corpus/$name" -print | head -1)
  if [ -n "$seeds" ]; then cp -r "$seeds"/. "$corpus"/; fi
  ( cd "$work" && "$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      "$corpus" >"$work/$name.log" 2>&1 ) &
  pids+=($!)
done
rc=0
for i in "${!pids[@]}"; do
  name=$(basename "${fuzzers[$i]}")
  if wait "${pids[$i]}"; then
    echo "fuzz $name: ok ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/$name.log" | grep -o '[0-9]*$') runs)"
  else
    echo "fuzz $name: FAILED" >&2
    tail -60 "$work/$name.log" >&2
    rc=1
  fi
done
rm -rf "$work"
exit $rc
