#!/usr/bin/env bash
# Checks that every C and C++ source of the project is laid out as
# .clang-format says; lists the files that are not and fails.
#   scripts/check-format.sh          check
#   scripts/check-format.sh --fix    rewrite them in place
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "check-format.sh: clang-format is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
# The sources of the tree, not of the build directories.
mapfile -d '' files < <(find zt-core zt-host zt-play windows tools \
  -path '*/corpus' -prune -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0 | sort -z)
if [ "${1:-}" = "--fix" ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
# One run over all files; each misplaced line is reported as FILE:LINE:COL.
if ! report=$("$format" --dry-run --Werror "${files[@]}" 2>&1); then
  echo "not formatted as .clang-format says (scripts/check-format.sh --fix rewrites them):" >&2
  grep -o '^[^ :]*\.\(cpp\|h\|c\):[0-9]*' <<<"$report" | cut -d: -f1 | sort -u | sed 's/^/  /' >&2 || printf '%s\n' "$report" >&2
  exit 1
fi
echo "formatting: ${#files[@]} files as .clang-format says"
