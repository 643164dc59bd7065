#!/usr/bin/env bash
# Installs the Debian packages the build needs. Idempotent; uses sudo when not root.
set -euo pipefail
packages=(cmake ninja-build g++ clang pkg-config libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
          libsndfile1-dev libasound2-dev uuid-dev libcli11-dev libclang-rt-14-dev clang-format
          libsystemd-dev libavahi-client-dev libcurl4-openssl-dev libsodium-dev
          dbus-daemon dbus-bin python3-dbusmock avahi-daemon avahi-utils iproute2 systemd dpkg-dev file
          libpipewire-0.3-dev pipewire pipewire-bin wireplumber pipewire-pulse pulseaudio-utils sox
          qt6-base-dev qt6-svg-dev xvfb xauth fonts-dejavu-core
          libwebsockets-dev chromium chromium-driver python3-selenium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq "${missing[@]}"
