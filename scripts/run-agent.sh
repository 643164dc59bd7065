#!/usr/bin/env bash
# Installs what the build needs, configures, builds and starts the agent. Arguments go to orevant.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j2 --target orevant
exec ./build/orevant "$@"
