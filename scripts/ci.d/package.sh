#!/usr/bin/env bash
# Builds the Debian package from CI's existing build/ (no third build of the tree), installs it
# with dpkg, runs the installed agent briefly, and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/../.."
deb="$(bash scripts/package.sh build | tail -n1)"
echo "== package: $deb"
dpkg-deb --info "$deb" | sed -n '/Depends/p'
dpkg -i "$deb"
work="$(mktemp -d)"
cleanup() {
  [ -n "${agent:-}" ] && kill "$agent" 2>/dev/null || true
  dpkg -r orevant >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
test -x /usr/bin/orevant-remote
test -f /usr/share/applications/orevant.desktop
test -f /usr/share/icons/hicolor/scalable/apps/orevant.svg
test -f /usr/lib/systemd/user/orevant.service -o -f /lib/systemd/user/orevant.service
/usr/bin/orevant --version

# A short headless run from the installed path, in a home of its own: it must come up, print the
# companion line, and end cleanly on SIGTERM.
args=(--headless --quiet)
/usr/bin/orevant --help | grep -q -- '--backend' && args+=(--backend sim)
HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" XDG_CACHE_HOME="$work/cache" \
  /usr/bin/orevant "${args[@]}" >"$work/out" 2>"$work/err" &
agent=$!
for _ in $(seq 1 100); do
  grep -q "Press Ctrl-C" "$work/out" && break
  kill -0 "$agent" 2>/dev/null || break
  sleep 0.1
done
grep -q "Companion: send OSC to UDP port" "$work/out" || { cat "$work/out" "$work/err"; exit 1; }
kill -TERM "$agent"
status=0
wait "$agent" || status=$?
agent=
[ "$status" -eq 0 ] || { echo "orevant ended with status $status" >&2; cat "$work/err"; exit 1; }
dpkg -r orevant
test ! -e /usr/bin/orevant
echo "package: built, installed, ran and removed"
