#!/usr/bin/env bash
# The test prefix: one 64-bit Wine prefix under build/, never the user's ~/.wine.
#   wine-prefix.sh ensure   create it when missing (no Mono/Gecko prompt), save its registry
#   wine-prefix.sh reset    stop every process in it and put the saved registry back
#   wine-prefix.sh start    keep one wineserver alive (persistent) for a run
#   wine-prefix.sh stop     end the wineserver and every process of the prefix
#   wine-prefix.sh path     print the prefix folder
# BDL_WINEPREFIX overrides the folder (the demo uses its own sandbox).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PREFIX="${BDL_WINEPREFIX:-$ROOT/build/wineprefix}"
SAVED="$PREFIX.saved"
export WINEPREFIX="$PREFIX" WINEARCH=win64 WINEDEBUG="${WINEDEBUG:--all}"
# Mono and Gecko stay out: nothing may wait for a download prompt.
export WINEDLLOVERRIDES="mscoree,mshtml="

REGS=(system.reg user.reg userdef.reg)

save() {
    wineserver -w
    mkdir -p "$SAVED"
    for r in "${REGS[@]}"; do cp -p "$PREFIX/$r" "$SAVED/$r"; done
}

ensure() {
    if [ -f "$SAVED/system.reg" ] && [ -f "$PREFIX/system.reg" ]; then return 0; fi
    mkdir -p "$(dirname "$PREFIX")"
    exec 9>"$PREFIX.lock"
    flock 9
    if [ -f "$SAVED/system.reg" ] && [ -f "$PREFIX/system.reg" ]; then return 0; fi
    rm -rf "$PREFIX" "$SAVED"
    echo "wine-prefix: creating $PREFIX" >&2
    DISPLAY= wineboot -i </dev/null >/dev/null 2>&1
    # Report Windows 10, the system the program is mostly run on; tests that need another
    # version set it themselves and reset afterwards.
    wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
    save
}

case "${1:-}" in
ensure) ensure ;;
reset)
    ensure
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    for r in "${REGS[@]}"; do cp -p "$SAVED/$r" "$PREFIX/$r"; done
    ;;
start)
    ensure
    wineserver -p </dev/null >/dev/null 2>&1
    # Bring up Wine's services now, detached from any caller's output.
    wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
    ;;
stop) wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true ;;
path) echo "$PREFIX" ;;
*) echo "usage: $0 ensure|reset|start|stop|path" >&2; exit 2 ;;
esac
