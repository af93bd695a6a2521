#!/usr/bin/env bash
# Console control of the service, interrupted from outside the process as a user would: the
# first interrupt leads through the orderly shutdown (the SDK uninitialised last) to status 0
# within a second; a second one during a slow shutdown ends the process at once.
#   console_control_test.sh [wine] DRIVER
# Under Wine SIGINT reaches the program as Ctrl+C (SIGTERM ends it without any event), so only
# SIGINT is sent there; natively both SIGINT and SIGTERM.
set -u
fail() { echo "FAIL: $*" >&2; [ -f "$work/out" ] && cat "$work/out" "$work/err" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

signals="INT TERM"
[ "$1" = wine ] && signals=INT
export WINEDEBUG=-all

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Starts the driver and waits until it says $1 (the service waits for an interrupt).
start_driver() {
  "$@" >"$work/out" 2>"$work/err" &
  pid=$!
}
wait_for_line() {
  for _ in $(seq 200); do
    tr -d '\r' <"$work/out" | grep -qx "$1" && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

for signal in $signals; do
  start_driver "$@"
  wait_for_line ready || fail "$signal: the driver never got ready"
  sent=$(now_ms)
  kill -"$signal" "$pid"
  wait "$pid"
  status=$?
  took=$(( $(now_ms) - sent ))
  [ "$status" -eq 0 ] || fail "$signal: exit status $status"
  [ "$took" -lt 1000 ] || fail "$signal: shutdown took $took ms"
  last=$(tr -d '\r' <"$work/out" | tail -n 1)
  [ "$last" = LidarSdkUninit ] || fail "$signal: last SDK call '$last', not LidarSdkUninit"
  echo "$signal: orderly shutdown, status 0 after $took ms"
done

start_driver "$@" slow
wait_for_line ready || fail "the slow driver never got ready"
kill -INT "$pid"
wait_for_line uninit || fail "no shutdown after the first interrupt"
sent=$(now_ms)
kill -INT "$pid"
wait "$pid"
status=$?
took=$(( $(now_ms) - sent ))
[ "$status" -ne 0 ] || fail "second interrupt: the process ended with status 0"
[ "$took" -lt 1000 ] || fail "second interrupt: the process took $took ms to end"
echo "second interrupt: ended at once (status $status after $took ms)"
