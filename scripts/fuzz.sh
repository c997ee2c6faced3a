#!/usr/bin/env bash
# make fuzz: every campaign of tests/fuzz at full size, for each given preset (both builds run
# side by side, each in its own test prefix with one wineserver kept alive), then the random
# machines. Prints one line per campaign and preset: inputs tried, failures, time; a failure adds
# its seed, its input and the command that replays it. Exits non-zero on any failure.
#
#   scripts/fuzz.sh [win32] [win64]        FUZZ_SEED=n replays a whole run; FUZZ_MACHINES=n
#                                          sets the number of random machines (default 8)
#
# The parser campaigns run under Wine's heap checks (WINEDEBUG=warn+heap): a damaged block or a
# bad free prints a ":heap:" line, which fails the campaign as the heap.* tests do. One such line
# is no damage: "allocate_region Could not allocate", the heap failing to reserve another 64 MiB
# of address space to grow into, which the emulated 32-bit half of Wine meets now and then while
# the committed memory stays flat (FUZZ_TRACE=1 prints it per input); the allocation is then made
# another way: the campaign's own checks, which a failed load would break, still hold.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

PARSERS="switches langfile langmodule settings list"
OTHERS="foreign faults"
SEED="${FUZZ_SEED:-$(( (RANDOM << 15 | RANDOM) ))}"
MACHINES="${FUZZ_MACHINES:-8}"
# A campaign that runs longer than this hangs (FUZZ_TRACE=1 names the input it hangs on).
LIMIT=900

# One campaign: its output, then its summary line (or why there is none).
run_campaign() {
    local preset="$1" campaign="$2" heap="$3"
    local out status
    out="$(mktemp)"
    if [ "$heap" = 1 ]; then
        WINEDEBUG=warn+heap DISPLAY= timeout "$LIMIT" scripts/wine-run.sh "build/$preset/fuzz/fuzz.exe" \
            "$campaign" --seed "$SEED" >"$out" 2>&1
    else
        DISPLAY= timeout "$LIMIT" scripts/wine-run.sh "build/$preset/fuzz/fuzz.exe" "$campaign" \
            --seed "$SEED" >"$out" 2>&1
    fi
    status=$?
    if [ $status = 124 ]; then
        # Past the limit: what the campaign left running goes with the prefix's wineserver.
        echo "  stopped after $LIMIT s; FUZZ_TRACE=1 names each input as it starts"
        scripts/wine-prefix.sh stop >/dev/null 2>&1
        scripts/wine-prefix.sh start >/dev/null 2>&1
    fi
    # Wine's own notes ("wine: ...", "0123:err:module:...") are not the campaign's.
    grep -v '^wine: ' "$out" | grep -Ev "^[0-9a-f]{4}:(err|warn|fixme):" | grep -v "^$" |
        grep -v "^$campaign: " | sed "s/^/  /"
    local summary
    summary="$(grep "^$campaign: " "$out" | tail -1)"
    if [ -z "$summary" ]; then
        echo "$preset $campaign: crashed or stopped (exit code $status), seed $SEED"
        status=1
    else
        echo "$preset $summary"
    fi
    local damage
    damage="$(grep ":heap:" "$out" | grep -v ":warn:heap:allocate_region Could not allocate")"
    if [ "$heap" = 1 ] && [ -n "$damage" ]; then
        echo "  heap check: $(echo "$damage" | head -1)"
        echo "$preset $campaign: heap damage reported, seed $SEED"
        status=1
    fi
    rm -f "$out"
    return $status
}

run_preset() {
    local preset="$1" status=0
    export BDL_WINEPREFIX="$ROOT/build/wineprefix-$preset"
    scripts/wine-prefix.sh reset || return 1
    scripts/wine-prefix.sh start || return 1
    for campaign in $PARSERS; do
        run_campaign "$preset" "$campaign" 1 || status=1
    done
    for campaign in $OTHERS; do
        run_campaign "$preset" "$campaign" 0 || status=1
    done
    local out
    out="$(mktemp)"
    python3 tests/fuzz/machines.py --exe "build/$preset/Uninstall.exe" --build "build/$preset" \
        --count "$MACHINES" --seed "$SEED" >"$out" 2>&1 || status=1
    grep -v "^machines: " "$out" | sed "s/^/  /"
    if grep -q "^machines: " "$out"; then
        echo "$preset $(grep "^machines: " "$out" | tail -1)"
    else
        echo "$preset machines: stopped, seed $SEED"
        tail -5 "$out" | sed "s/^/  /"
        status=1
    fi
    rm -f "$out"
    scripts/wine-prefix.sh stop
    return $status
}

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win32 win64)
echo "== fuzz: seed $SEED (FUZZ_SEED=$SEED make fuzz replays this run)"
started=$SECONDS
pids=()
logs=()
for preset in "${presets[@]}"; do
    log="$ROOT/build/fuzz-$preset.log"
    run_preset "$preset" >"$log" 2>&1 &
    pids+=($!)
    logs+=("$log")
done
trap 'kill "${pids[@]}" 2>/dev/null' INT TERM
status=0
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || status=1
    echo "== fuzz: ${presets[$i]}"
    cat "${logs[$i]}"
done
echo "== fuzz: $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s in all," \
     "$([ $status = 0 ] && echo "no failures" || echo "FAILURES")"
exit $status
