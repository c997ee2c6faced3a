#!/usr/bin/env bash
# Runs every test of the given presets, each preset in a Wine prefix of its own
# (build/wineprefix-<preset>) with one wineserver kept alive for its run. The presets run side by
# side: most of a scenario's time is spent waiting for Wine to start processes, not computing.
# Each preset's output is printed once it has finished. Fails when any test fails.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

run_preset() {
    local preset="$1"
    export BDL_WINEPREFIX="$ROOT/build/wineprefix-$preset"
    "$ROOT/scripts/wine-prefix.sh" reset || return 1
    "$ROOT/scripts/wine-prefix.sh" start || return 1
    local status=0
    ctest --preset "$preset" || status=1
    "$ROOT/scripts/wine-prefix.sh" stop
    return $status
}

pids=()
logs=()
for preset in "$@"; do
    log="$ROOT/build/tests-$preset.log"
    run_preset "$preset" >"$log" 2>&1 &
    pids+=($!)
    logs+=("$log")
done
trap 'kill "${pids[@]}" 2>/dev/null' INT TERM
status=0
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || status=1
    echo "== tests: ${*:$((i + 1)):1}"
    cat "${logs[$i]}"
done
exit $status
