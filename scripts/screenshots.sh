#!/usr/bin/env bash
# Pictures of the desktop for the README: runs the agent with the built-in scenario on the
# simulated audio server under Xvfb, sets a few levels through the companion's OSC commands, and
# saves mixer.png, console.png and settings.png.
#   scripts/screenshots.sh            into docs/
#   scripts/screenshots.sh DIR        into DIR
# Installs Xvfb, xauth and a font when they are missing; builds the agent when build/ has none.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-docs}")"

need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xauth >/dev/null || need+=(xauth)
dpkg-query -W -f='${Status}' fonts-dejavu-core 2>/dev/null | grep -q "install ok installed" || need+=(fonts-dejavu-core)
if [ ${#need[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq "${need[@]}"
fi
if [ ! -x build/orevant ] || [ ! -x build/orevant-remote ]; then
  [ -f build/build.ninja ] || cmake -S . -B build -G Ninja >/dev/null
  cmake --build build -j2 --target orevant orevant-remote
fi

# A home of its own: no stored settings of the user's, and takes go nowhere that matters.
work="$(mktemp -d)"
agent=""
cleanup() {
  [ -n "$agent" ] && kill "$agent" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out" "$work/home/Music"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_MUSIC_DIR="$work/home/Music"
export OREVANT_SCREENSHOTS="$work/shots" OREVANT_SCREENSHOT_DELAY=4
unset WAYLAND_DISPLAY

xvfb-run -a -s "-screen 0 1600x1000x24" build/orevant --backend sim --quiet >"$work/agent.out" 2>"$work/agent.err" &
agent=$!

# The port and PIN the agent prints once it runs.
for _ in $(seq 1 100); do
  grep -q ', PIN ' "$work/agent.out" 2>/dev/null && break
  sleep 0.1
done
line="$(grep ', PIN ' "$work/agent.out" || true)"
if [ -z "$line" ]; then
  echo "screenshots: the agent did not start" >&2
  cat "$work/agent.err" >&2
  exit 1
fi
export OREVANT_PIN="${line##*PIN }"
port="$(sed -n 's/.*UDP port \([0-9]*\).*/\1/p' <<<"$line")"
remote() { build/orevant-remote --port "$port" "$@" >/dev/null; }
remote volume org.example.MusicPlayer 0.72
remote volume org.example.WebBrowser 0.45
remote slot 2 org.example.MusicPlayer
remote slot 3 org.example.WebBrowser
remote slot 4 system_output
remote save

wait "$agent"
agent=""
for name in mixer console settings; do
  test -s "$work/shots/$name.png" || { echo "screenshots: no $name.png" >&2; cat "$work/agent.err" >&2; exit 1; }
  cp "$work/shots/$name.png" "$out/$name.png"
  echo "$out/$name.png"
done
