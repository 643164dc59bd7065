#!/usr/bin/env bash
# Proves the screenshot script works on this machine: the desktop agent under Xvfb saves its
# three windows (into a temporary folder; docs/ is left as checked in).
set -euo pipefail
cd "$(dirname "$0")/../.."
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
bash scripts/screenshots.sh "$out"
for name in mixer console settings; do
  file "$out/$name.png" | grep -q 'PNG image data' || { echo "== screenshots: $name.png is no picture" >&2; exit 1; }
done
echo "== screenshots: ok"
