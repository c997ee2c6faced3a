#!/usr/bin/env bash
# Runs a Windows executable in the test prefix; CTest uses it as the cross-compiling emulator.
# The program's output passes through a file, not through the caller's pipe: Wine services that
# the program may start (rpcss for COM, say) inherit its handles and live on, and a caller that
# reads a pipe (CTest) would wait for them to end.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/wine-prefix.sh" ensure || exit 1
export WINEPREFIX="$("$ROOT/scripts/wine-prefix.sh" path)"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
output="$(mktemp)"
trap 'rm -f "$output"' EXIT
wine "$@" </dev/null >"$output" 2>&1
status=$?
cat "$output"
exit $status
