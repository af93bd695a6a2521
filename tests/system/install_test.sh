#!/usr/bin/env bash
# `cmake --install` into a scratch prefix: the service and the simulator under bin, the example
# configuration (and a working copy that a second install keeps) under etc, and a systemd unit
# that names them and that systemd-analyze verifies without a word.
#
#   install_test.sh BUILD_DIR
set -u
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$(mktemp -d /tmp/install-test-XXXXXX)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
for f in bin/app bin/lidar_sim; do [ -x "$prefix/$f" ] || fail "$f missing"; done
config="$prefix/etc/lidar-obstacle"
[ -f "$config/lidar_config.example.json" ] || fail "example configuration missing"
[ -f "$config/lidar_config.json" ] || fail "working configuration missing"
unit="$prefix/lib/systemd/system/lidar-obstacle.service"
[ -f "$unit" ] || fail "unit missing"

grep -qx "ExecStart=$prefix/bin/app $config/lidar_config.json" "$unit" || fail "ExecStart: $(grep ExecStart "$unit")"
for line in Type=notify Restart=on-failure WatchdogSec=10; do
  grep -qx "$line" "$unit" || fail "unit lacks $line"
done

# An operator's edited configuration survives a second install.
echo '{"edited": true}' >"$config/lidar_config.json"
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "second cmake --install"
grep -q edited "$config/lidar_config.json" || fail "the second install overwrote the configuration"

if ! command -v systemd-analyze >/dev/null 2>&1; then
  echo "SKIP: systemd-analyze is not installed (Debian package systemd)"
  exit 77
fi
# systemd-analyze only warns about most mistakes, so any output at all fails the test.
out=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"
echo "install checks passed"
