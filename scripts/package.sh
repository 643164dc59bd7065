#!/usr/bin/env bash
# Builds the Debian package orevant_<version>_<arch>.deb with CPack and prints its path.
#   scripts/package.sh             configures and builds a Release tree of its own in build-package/
#   scripts/package.sh BUILD_DIR   reuses an already configured build folder (CI's build/)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dir="${1:-}"
if [ -n "$dir" ]; then
  [ -f "$dir/CPackConfig.cmake" ] || { echo "package: $dir is not a configured build folder" >&2; exit 1; }
else
  dir=build-package
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOREVANT_TESTS=OFF -DOREVANT_BENCH=OFF >/dev/null
fi
cmake --build "$dir" -j2 --target orevant orevant-remote
rm -rf "$dir/package"
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake >/dev/null)
deb="$(ls "$dir"/package/orevant_*.deb)"
echo "$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"
