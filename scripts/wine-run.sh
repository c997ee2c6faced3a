#!/usr/bin/env bash
# Runs a Windows executable in the test prefix; CTest uses it as the cross-compiling emulator.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/wine-prefix.sh" ensure
export WINEPREFIX="$("$ROOT/scripts/wine-prefix.sh" path)"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
