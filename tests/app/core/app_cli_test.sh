#!/usr/bin/env bash
# The `app` binary's command line: exact usage bytes on standard output, status 255 (-1), also
# for --help, and the SDK failure line for a configuration the SDK rejects.
#   app_cli_test.sh [wine] APP
# A Windows program's lines end in CR LF (the C runtime's text mode); they are compared without
# the CR.
set -u
export WINEDEBUG=-all
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$("$@" 2>/dev/null | tr -d '\r'; echo "rc=${PIPESTATUS[0]}")
expected=$(printf 'Uso: app <config.json> [--debug]\nrc=255')
[ "$out" = "$expected" ] || fail "usage: got [$out]"
out=$("$@" --help 2>/dev/null | tr -d '\r'; echo "rc=${PIPESTATUS[0]}")
[ "$out" = "$expected" ] || fail "--help: got [$out]"

err=$("$@" /nonexistent/config.json 2>&1 >/dev/null; echo "rc=$?")
case "$err" in
  *"[ERR] LidarSdkInit falhou"*rc=255) ;;
  *) fail "missing config: got [$err]" ;;
esac
echo "app CLI checks passed"
