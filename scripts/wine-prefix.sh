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
# Mono and Gecko stay out: nothing may wait for a download prompt. winemenubuilder would copy
# every shortcut the tests make into the host's own menus and icons.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Bumped whenever the prefix is set up differently, so that an older prefix is made anew.
LAYOUT=2

REGS=(system.reg user.reg userdef.reg)

save() {
    wineserver -w
    mkdir -p "$SAVED"
    for r in "${REGS[@]}"; do cp -p "$PREFIX/$r" "$SAVED/$r"; done
}

current() {
    [ -f "$SAVED/system.reg" ] && [ -f "$PREFIX/system.reg" ] &&
        [ "$(cat "$SAVED/layout" 2>/dev/null)" = "$LAYOUT" ]
}

ensure() {
    if current; then return 0; fi
    mkdir -p "$(dirname "$PREFIX")"
    exec 9>"$PREFIX.lock"
    flock 9
    if current; then return 0; fi
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$PREFIX" "$SAVED"
    echo "wine-prefix: creating $PREFIX" >&2
    DISPLAY= wineboot -i </dev/null >/dev/null 2>&1
    # Wine links the user's Desktop, Documents and the like to the host's home folder; the
    # tests write shortcuts there, so they become folders of the prefix.
    for link in "$PREFIX"/drive_c/users/*/*; do
        if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
    done
    # Report Windows 10, the system the program is mostly run on; tests that need another
    # version set it themselves and reset afterwards.
    wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
    # A crashing test program ends with a backtrace on its output instead of waiting in a crash
    # dialog for someone to close it.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d '' /f >/dev/null 2>&1
    save
    echo "$LAYOUT" >"$SAVED/layout"
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
