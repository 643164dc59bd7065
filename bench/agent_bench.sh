#!/usr/bin/env bash
# Measures the running headless agent on the simulated audio server, in a Release build:
#   1. the CPU of the agent's own threads (every thread but the simulated server's clock and IO
#      threads, "sim-clock" and "sim-io") over IDLE_SECONDS, with a scenario where nothing plays;
#   2. the same with the built-in scenario and two taps running (two applications given a volume);
#   3. the agent's resident memory after RSS_SECONDS with the built-in scenario;
#   4. the control latency from sending an OSC volume message to the first output cycle of the
#      simulated device that carries the new gain target (median and 99th percentile over CHANGES
#      changes), in milliseconds and in IO cycles of 512 frames at 48 kHz.
# Each figure is printed beside its aim. The agent runs with its own temporary home, defaults and
# lock, on UDP port 9000 of this machine.
#   bench/agent_bench.sh [BUILD_DIR]     (default: build-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-bench}"
idle_seconds="${IDLE_SECONDS:-20}"
rss_seconds="${RSS_SECONDS:-60}"
changes="${CHANGES:-200}"

bash scripts/install-deps.sh
if [ -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
else
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOREVANT_BENCH=OFF -DOREVANT_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target orevant orevant-remote orevant-control-latency >/dev/null

work="$(mktemp -d)"
agent=""
stop_agent() {
  if [ -n "$agent" ] && kill -0 "$agent" 2>/dev/null; then
    kill -TERM "$agent"
    wait "$agent" || true
  fi
  agent=""
}
cleanup() {
  stop_agent
  rm -rf "$work"
}
trap cleanup EXIT

# Nothing plays: the built-in devices and applications, every process silent.
cat >"$work/silent.json" <<'EOF'
{
  "devices": [
    {"uid": "builtin-speakers", "name": "Built-in Speakers", "transport": "bltn", "outputChannels": 2},
    {"uid": "usb-studio-interface", "name": "Studio Interface 8x8", "transport": "usb ", "outputChannels": 8}
  ],
  "defaultOutput": "builtin-speakers",
  "apps": [{"pid": 501, "bundleID": "org.example.MusicPlayer", "name": "Music Player"}],
  "processes": [{"pid": 501, "playing": false}]
}
EOF

# start_agent [ARGS...]: starts the agent in a fresh home; sets $agent and $pin.
start_agent() {
  rm -rf "$work/home" "$work/runtime"
  mkdir -p "$work/home" "$work/runtime"
  chmod 700 "$work/runtime"
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime" \
    XDG_MUSIC_DIR="$work/home/Music" "$build/orevant" --headless --quiet "$@" >"$work/out" 2>"$work/err" &
  agent=$!
  for _ in $(seq 300); do
    grep -q ", PIN [0-9]\{6\}" "$work/out" 2>/dev/null && break
    kill -0 "$agent" 2>/dev/null || {
      echo "the agent ended at start:"
      cat "$work/err"
      exit 1
    }
    sleep 0.1
  done
  pin="$(grep -o "PIN [0-9]\{6\}" "$work/out" | head -1 | cut -d' ' -f2)"
  [ -n "$pin" ] || {
    echo "the agent printed no PIN"
    cat "$work/out" "$work/err"
    exit 1
  }
}

# Nanoseconds on a CPU of each of the agent's own threads, one "tid ns" line each (the kernel's
# scheduler accounting, exact to the nanosecond, where tick-based counts would round to 10 ms).
own_thread_times() {
  local task
  for task in /proc/"$agent"/task/*; do
    case "$(cat "$task/comm" 2>/dev/null)" in sim-clock | sim-io | "") continue ;; esac
    echo "$(basename "$task") $(cut -d' ' -f1 "$task/schedstat" 2>/dev/null || echo 0)"
  done
}

# measure_cpu LABEL AIM_PERCENT: the agent's own threads over idle_seconds, against the aim.
measure_cpu() {
  own_thread_times >"$work/before"
  sleep "$idle_seconds"
  own_thread_times >"$work/after"
  awk -v s="$idle_seconds" -v label="$1" -v aim="$2" '
    NR == FNR { before[$1] = $2; next }
    { used += $2 - ($1 in before ? before[$1] : 0) }
    END {
      pct = 100 * used / 1e9 / s
      printf "%-44s %.4f%% of one core (%.2f ms of CPU in %d s)   aim < %s%%  %s\n",
             label, pct, used / 1e6, s, aim, (pct < aim ? "met" : "NOT MET")
    }' "$work/before" "$work/after"
}

# 1. Nothing plays.
start_agent --scenario "$work/silent.json"
sed -n 1p "$work/out"
sleep 2
measure_cpu "agent threads, nothing playing" 0.05
stop_agent

# 2. Two taps running, then 3. memory and 4. latency on the same agent.
start_agent --backend sim --latency-trace "$work/trace"
sed -n 1p "$work/out"
started=$(date +%s)
"$build/orevant-remote" --pin "$pin" --reply-port 0 volume org.example.MusicPlayer 0.5 >/dev/null
"$build/orevant-remote" --pin "$pin" --reply-port 0 volume org.example.WebBrowser 0.6 >/dev/null
sleep 2
ios="$(grep -l sim-io /proc/"$agent"/task/*/comm 2>/dev/null | wc -l)"
measure_cpu "agent threads, two taps running ($ios IO threads)" 0.3

left=$((rss_seconds - ($(date +%s) - started)))
[ "$left" -gt 0 ] && sleep "$left"
awk -v s="$rss_seconds" '/VmRSS/ {
  mb = $2 / 1024
  printf "%-44s %.1f MB   aim < 40 MB  %s\n", "resident memory after " s " s", mb, (mb < 40 ? "met" : "NOT MET")
}' /proc/"$agent"/status

target="org.example.MusicPlayer"
"$build/orevant-control-latency" --pin "$pin" --target "$target" --trace "$work/trace" --count "$changes" |
  tee "$work/latency"
awk '{
  for (i = 1; i <= NF; ++i) if ($i == "p99") p99 = $(i + 1)
  cycle = 512 / 48000 * 1000
  printf "%-44s %.2f ms = %.2f IO cycles   aim <= 1.1 cycles  %s\n", "control latency p99", p99, p99 / cycle,
         (p99 / cycle <= 1.1 ? "met" : "NOT MET")
}' "$work/latency"

stop_agent
echo "agent ended cleanly on SIGTERM"
