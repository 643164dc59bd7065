#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for about a minute from a copy of its
# seed corpus. Any crash, sanitizer report or read past a datagram fails the step.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/install-deps.sh
seconds="${FUZZ_SECONDS:-60}"
dir="${FUZZ_BUILD_DIR:-build-fuzz}"
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DOREVANT_FUZZ=ON -DOREVANT_TESTS=OFF -DOREVANT_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
for src in fuzz/*_fuzz.cpp; do
  [ -e "$src" ] || continue
  targets+=("$(basename "$src" .cpp)")
done
[ ${#targets[@]} -eq 0 ] && { echo "no fuzz targets"; exit 0; }
cmake --build "$dir" -j"${FUZZ_JOBS:-2}" --target "${targets[@]}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$dir/artifacts"
for target in "${targets[@]}"; do
  corpus="$work/$target"
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$target" ] && cp -r "fuzz/corpus/$target/." "$corpus/"
  echo "== fuzzing $target for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/" "$corpus"
done
echo "fuzz: ${#targets[@]} target(s) ran clean"
