#!/usr/bin/env bash
# The same scripted play recorded and replayed by the Linux build and by the
# cross-built one under Wine: both must compute the same bits.
#   cross_replay.sh LINUX_TOOL WINDOWS_TOOL DATA_DIR WORK_DIR
set -euo pipefail
linux=$1 win=$2 data=$3 work=$4
rm -rf "$work"
mkdir -p "$work/linux" "$work/win"
w() { winepath -w "$1" 2>/dev/null; }

"$linux" record "$data" "$work/linux"
wine "$win" record "$(w "$data")" "$(w "$work/win")" </dev/null
cmp "$work/linux/Rec1.dat" "$work/win/Rec1.dat"
cmp "$work/linux/record.txt" "$work/win/record.txt"

# Each program replays the other's recording, and the Linux one its own.
cp -r "$work/linux" "$work/linux-by-win"
cp -r "$work/win" "$work/win-by-linux"
wine "$win" replay "$(w "$data")" "$(w "$work/linux-by-win")" </dev/null
"$linux" replay "$data" "$work/win-by-linux"
"$linux" replay "$data" "$work/linux"
cmp "$work/linux/replay.txt" "$work/linux-by-win/replay.txt"
cmp "$work/linux/replay.txt" "$work/win-by-linux/replay.txt"
# A replay ends its play as the recording did.
diff <(head -6 "$work/linux/record.txt") <(head -6 "$work/linux/replay.txt")
# The replay wrote its score back into the file it came from.
cmp "$work/linux-by-win/Rec1.dat" "$work/win-by-linux/Rec1.dat"
head -7 "$work/linux/record.txt"
echo "cross-program replay: identical"
