#!/usr/bin/env bash
# A private PipeWire + WirePlumber + pipewire-pulse in a temporary folder, for the integration
# tests and the PipeWire benchmark. Nothing outside that folder is touched, and no D-Bus or
# systemd is needed.
#
#   scripts/pipewire-stack.sh start [QUANTUM]   starts the stack; prints its folder on stdout
#   scripts/pipewire-stack.sh stop DIR          stops the stack started in DIR (by PID) and removes DIR
#   scripts/pipewire-stack.sh restart DIR       kills the daemons of DIR and starts them again there
#   scripts/pipewire-stack.sh env DIR           prints the environment that reaches the stack
#
# The stack has three null sinks: ci_stereo (2 channels), ci_quad (4) and ci_8ch (8). Every wait
# is bounded (OREVANT_PW_START_TIMEOUT seconds, default 10); on a failure the daemons' logs are
# printed on stderr, the stack is stopped and the script exits non-zero.
set -euo pipefail

timeout_s="${OREVANT_PW_START_TIMEOUT:-10}"

stack_env() {
  local base="$1"
  echo "XDG_RUNTIME_DIR=$base/run"
  echo "XDG_CONFIG_HOME=$base/config"
  echo "XDG_STATE_HOME=$base/state"
  echo "PULSE_SERVER=unix:$base/run/pulse/native"
}

use_env() {
  local line
  while read -r line; do export "${line?}"; done < <(stack_env "$1")
  unset DBUS_SESSION_BUS_ADDRESS PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
}

kill_daemons() {
  local base="$1" name pid
  for name in pulse wp pw; do
    [ -f "$base/$name.pid" ] || continue
    pid="$(cat "$base/$name.pid")"
    kill "$pid" 2>/dev/null || true
  done
  for name in pulse wp pw; do
    [ -f "$base/$name.pid" ] || continue
    pid="$(cat "$base/$name.pid")"
    # Bounded: a daemon that does not end within 2 s is killed.
    for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.01; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$base/$name.pid"
  done
}

stop_stack() {
  kill_daemons "$1"
  rm -rf "$1"
}

fail() {
  local base="$1" what="$2" log
  echo "pipewire-stack: $what" >&2
  for log in pw wp pulse; do
    [ -f "$base/$log.log" ] || continue
    echo "---- $log.log" >&2
    tail -n 40 "$base/$log.log" >&2
  done
  stop_stack "$base"
  exit 1
}

# Polls `check` every 10 ms until it succeeds or the time-out passes.
wait_for() {
  local base="$1" what="$2"
  shift 2
  local tries=$((timeout_s * 100))
  for _ in $(seq "$tries"); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.01
  done
  fail "$base" "timed out after ${timeout_s}s waiting for $what"
}

default_sink_set() { pw-metadata -n default 0 default.audio.sink 2>/dev/null | grep -q value; }

start_stack() {
  local quantum="${1:-1024}"
  local base
  base="$(mktemp -d "${TMPDIR:-/tmp}/orevant-pw.XXXXXX")"
  write_config "$base" "$quantum"
  run_daemons "$base"
  echo "$base"
}

write_config() {
  local base="$1" quantum="$2"
  use_env "$base"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d" "$XDG_CONFIG_HOME/wireplumber/main.lua.d" "$XDG_STATE_HOME"
  cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/orevant-ci.conf" <<EOF
context.properties = {
  default.clock.quantum = $quantum
  default.clock.min-quantum = 32
}
context.objects = [
  { factory = adapter args = { factory.name = support.null-audio-sink node.name = ci_stereo
      node.description = "CI stereo" media.class = Audio/Sink audio.position = [ FL FR ] monitor.channel-volumes = true } }
  { factory = adapter args = { factory.name = support.null-audio-sink node.name = ci_quad
      node.description = "CI 4-channel" media.class = Audio/Sink audio.position = [ FL FR RL RR ] monitor.channel-volumes = true } }
  { factory = adapter args = { factory.name = support.null-audio-sink node.name = ci_8ch
      node.description = "CI 8-channel" media.class = Audio/Sink audio.position = [ FL FR FC LFE RL RR SL SR ] monitor.channel-volumes = true } }
]
EOF
  # WirePlumber 0.4 without a session bus: no device reservation, no portal.
  cat >"$XDG_CONFIG_HOME/wireplumber/main.lua.d/80-orevant-ci.lua" <<'EOF'
alsa_monitor.enabled = false
alsa_monitor.properties["alsa.reserve"] = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
EOF
}

run_daemons() {
  local base="$1"
  use_env "$base"
  pipewire >"$base/pw.log" 2>&1 &
  echo $! >"$base/pw.pid"
  wait_for "$base" "pipewire" pw-cli info 0
  wireplumber >"$base/wp.log" 2>&1 &
  echo $! >"$base/wp.pid"
  wait_for "$base" "wireplumber to choose a default sink" default_sink_set
  pipewire-pulse >"$base/pulse.log" 2>&1 &
  echo $! >"$base/pulse.pid"
  wait_for "$base" "pipewire-pulse" pactl info
}

case "${1:-}" in
start) start_stack "${2:-}" ;;
stop)
  [ -n "${2:-}" ] && [ -d "$2" ] || { echo "usage: $0 stop DIR" >&2; exit 2; }
  stop_stack "$2"
  ;;
restart)
  [ -n "${2:-}" ] && [ -d "$2" ] || { echo "usage: $0 restart DIR" >&2; exit 2; }
  kill_daemons "$2"
  run_daemons "$2"
  ;;
env)
  [ -n "${2:-}" ] || { echo "usage: $0 env DIR" >&2; exit 2; }
  stack_env "$2"
  ;;
*)
  echo "usage: $0 start [QUANTUM] | stop DIR | restart DIR | env DIR" >&2
  exit 2
  ;;
esac
