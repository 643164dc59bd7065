#!/usr/bin/env bash
# Builds the tap teardown test with ThreadSanitizer and runs it: taps are stopped and destroyed
# while their IO threads run, with parameters changing underneath. Any race report fails the step.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/install-deps.sh
dir="${TSAN_BUILD_DIR:-build-tsan}"
cmake -S . -B "$dir" -G Ninja -DOREVANT_TSAN=ON -DOREVANT_BENCH=OFF -DOREVANT_WERROR=ON >/dev/null
cmake --build "$dir" -j2 --target test_capture_tap_teardown_test
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$dir/tests/test_capture_tap_teardown_test"
