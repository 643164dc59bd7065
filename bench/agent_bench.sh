#!/usr/bin/env bash
# Measures the running headless agent with the built-in scenario:
#   1. its CPU use over 10 s of idling (nothing being changed, the simulated audio running);
#   2. the control latency from sending an OSC volume message to the first output cycle of the
#      simulated device that carries the new gain target (median and 99th percentile, 200 changes).
# The agent runs with its own temporary home, defaults and lock, on UDP port 9000 of this machine.
#   bench/agent_bench.sh [BUILD_DIR]     (default: build-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-bench}"
idle_seconds="${IDLE_SECONDS:-10}"
changes="${CHANGES:-200}"

bash scripts/install-deps.sh
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DOREVANT_BENCH=OFF -DOREVANT_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target orevant orevant-remote orevant-control-latency >/dev/null

work="$(mktemp -d)"
agent=""
cleanup() {
  if [ -n "$agent" ] && kill -0 "$agent" 2>/dev/null; then kill -TERM "$agent"; wait "$agent" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime"
export XDG_MUSIC_DIR="$work/home/Music"

"$build/orevant" --headless --quiet --backend sim --latency-trace "$work/trace" >"$work/out" 2>"$work/err" &
agent=$!
for _ in $(seq 300); do
  grep -q ", PIN [0-9]\{6\}" "$work/out" 2>/dev/null && break
  kill -0 "$agent" 2>/dev/null || { echo "the agent ended at start:"; cat "$work/err"; exit 1; }
  sleep 0.1
done
pin="$(grep -o "PIN [0-9]\{6\}" "$work/out" | head -1 | cut -d' ' -f2)"
[ -n "$pin" ] || { echo "the agent printed no PIN"; cat "$work/out" "$work/err"; exit 1; }
sed -n 1,2p "$work/out"

# 1. CPU over an idle stretch, from the kernel's accounting of the agent's user and system time.
sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$agent/stat"; }
hz="$(getconf CLK_TCK)"
before="$(ticks)"
sleep "$idle_seconds"
after="$(ticks)"
awk -v d="$((after - before))" -v hz="$hz" -v s="$idle_seconds" \
  'BEGIN { printf "idle CPU over %d s: %.2f%% of one core (%.3f s of CPU)\n", s, 100 * d / hz / s, d / hz }'

# 2. Control latency. The first change gives the application its tap; the measured ones follow.
target="org.example.MusicPlayer"
"$build/orevant-remote" --pin "$pin" --reply-port 0 volume "$target" 0.5
sleep 1
"$build/orevant-control-latency" --pin "$pin" --target "$target" --trace "$work/trace" --count "$changes"

kill -TERM "$agent"
wait "$agent"
agent=""
echo "agent ended cleanly on SIGTERM"
