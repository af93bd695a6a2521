#!/usr/bin/env bash
# The `app` binary's command line: exact usage bytes on standard output, status 255 (-1), and
# the SDK failure line for a configuration the SDK rejects.
set -u
app=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$("$app" 2>/dev/null; echo "rc=$?")
expected=$(printf 'Uso: app <config.json> [--debug]\nrc=255')
[ "$out" = "$expected" ] || fail "usage: got [$out]"

err=$("$app" /nonexistent/config.json 2>&1 >/dev/null; echo "rc=$?")
case "$err" in
  *"[ERR] LidarSdkInit falhou"*rc=255) ;;
  *) fail "missing config: got [$err]" ;;
esac
echo "app CLI checks passed"
