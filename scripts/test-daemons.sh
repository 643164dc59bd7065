#!/usr/bin/env bash
# Daemons for the integration tests, each in a folder of its own and never the machine's own:
#   test-daemons.sh bus DIR      a private system-type D-Bus bus; its address goes to DIR/address
#   test-daemons.sh bluez DIR    that bus with a mock BlueZ on it (python3-dbusmock, bluez5 template)
#   test-daemons.sh avahi DIR    that bus carrying Avahi's policy, and a real avahi-daemon in a
#                                network namespace of its own with an interface of its own (root only)
#   test-daemons.sh stop DIR     ends whatever was started for DIR
# Start-up waits (bounded) until the daemon answers on the bus; a failure prints why and exits 1.
set -euo pipefail
cmd="${1:?usage: test-daemons.sh bus|bluez|avahi|stop DIR}"
dir="${2:?usage: test-daemons.sh bus|bluez|avahi|stop DIR}"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
python=/usr/bin/python3

started() { echo "$1" >>"$dir/pids"; }

# Polls (at most ~10 s) until NAME has an owner on the private bus.
wait_for_name() {
  local name="$1" i
  for i in $(seq 1 100); do
    if dbus-send --bus="$(cat "$dir/address")" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner "string:$name" 2>/dev/null | grep -q 'boolean true'; then
      return 0
    fi
    sleep 0.1
  done
  echo "test-daemons: $name did not appear on the private bus" >&2
  return 1
}

start_bus() {
  local policy="${1:-}"
  cat >"$dir/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
  $policy
</busconfig>
CONF
  dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile --print-address=3 3>"$dir/address.tmp" \
    >"$dir/bus.log" 2>&1 &
  started $!
  local i
  for i in $(seq 1 100); do
    [ -s "$dir/address.tmp" ] && break
    sleep 0.05
  done
  [ -s "$dir/address.tmp" ] || { echo "test-daemons: dbus-daemon did not start" >&2; exit 1; }
  head -n1 "$dir/address.tmp" >"$dir/address"
}

case "$cmd" in
bus)
  start_bus
  ;;
bluez)
  start_bus
  DBUS_SYSTEM_BUS_ADDRESS="$(cat "$dir/address")" "$python" -m dbusmock --system --template bluez5 \
    >"$dir/bluez.log" 2>&1 &
  started $!
  wait_for_name org.bluez
  ;;
avahi)
  if [ "$(id -u)" -ne 0 ]; then
    echo "test-daemons: avahi needs root (a network namespace of its own)" >&2
    exit 2
  fi
  start_bus "<include ignore_missing=\"yes\">/usr/share/dbus-1/system.d/avahi-dbus.conf</include>"
  cat >"$dir/avahi.conf" <<CONF
[server]
host-name=orevant-test
use-ipv4=yes
use-ipv6=no
allow-interfaces=orevant0
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
  # The daemon's pid file and socket live in /run/avahi-daemon: a private tmpfs over it keeps a
  # daemon the machine may run untouched. TEST-NET-1 on an interface of the namespace: nothing leaves it.
  DBUS_SYSTEM_BUS_ADDRESS="$(cat "$dir/address")" unshare --net --mount --propagation private sh -c '
    set -e
    ip link set lo up
    # A dummy interface where the kernel has the module; else a veth pair kept inside.
    ip link add orevant0 type dummy 2>/dev/null || ip link add orevant0 type veth peer name orevant1
    ip link set orevant0 multicast on
    ip addr add 192.0.2.1/24 dev orevant0
    ip link set orevant0 up
    ip link set orevant1 up 2>/dev/null || true
    mkdir -p /run/avahi-daemon
    mount -t tmpfs tmpfs /run/avahi-daemon
    exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$1"
  ' sh "$dir/avahi.conf" >"$dir/avahi.log" 2>&1 &
  started $!
  wait_for_name org.freedesktop.Avahi || { cat "$dir/avahi.log" >&2; exit 1; }
  ;;
stop)
  if [ -f "$dir/pids" ]; then
    # Last started first: the daemons, then their bus.
    tac "$dir/pids" | while read -r pid; do
      kill "$pid" 2>/dev/null || true
    done
    tac "$dir/pids" | while read -r pid; do
      for _ in $(seq 1 50); do
        state="$(ps -o stat= -p "$pid" 2>/dev/null || true)"
        case "$state" in "" | Z*) break ;; esac # gone, or a zombie its new parent has yet to reap
        sleep 0.05
      done
      kill -9 "$pid" 2>/dev/null || true
    done
    rm -f "$dir/pids"
  fi
  ;;
*)
  echo "usage: test-daemons.sh bus|bluez|avahi|stop DIR" >&2
  exit 1
  ;;
esac
