#!/usr/bin/env bash
# Fails when any C++ file of the tree differs from what clang-format makes of it (.clang-format).
#   scripts/check-format.sh          check and list the files that differ
#   scripts/check-format.sh --fix    reformat them in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -ne 0 ]; then
  printf 'not formatted (run scripts/check-format.sh --fix):\n'
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "format: ${#files[@]} files clean"
