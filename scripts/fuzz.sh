#!/usr/bin/env bash
# make fuzz: every campaign of tests/fuzz at full size for each given preset, then the random
# machines. Prints one line per campaign and preset: inputs tried, failures, time; a failure adds
# its seed, its input and the command that replays it. Exits non-zero on any failure.
#
#   scripts/fuzz.sh [win32] [win64]        FUZZ_SEED=n replays a whole run; FUZZ_MACHINES=n
#                                          sets the number of random machines (default 8)
#
# Two lanes, one per core, each in one of the test prefixes with one wineserver kept alive, take
# the jobs from one queue, the longest first, so that neither waits while the other still has
# work: the 32-bit build runs emulated here and takes about twice as long, and its registry fault
# injection, the longest job, is shared between both lanes (fuzz.exe --shard).
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
SEED="${FUZZ_SEED:-$(( (RANDOM << 15 | RANDOM) ))}"
MACHINES="${FUZZ_MACHINES:-8}"
# A job that runs longer than this hangs (FUZZ_TRACE=1 names the input it hangs on).
LIMIT=1200
WORK="$ROOT/build/fuzz"

# One campaign (or a shard of one): its output, then its summary line (or why there is none).
# Each job runs its own copy of fuzz.exe in a folder of its own: the campaigns put files beside
# the program ("Bundlo.ini", "uninstall.lng") where the code under test looks for them, and two
# jobs of one build that run at once in the two lanes must not find each other's.
run_campaign() {
    local job="$1" preset="$2" campaign="$3" shard="${4:-}"
    local out status heap=0 label="$campaign"
    local program="$WORK/job-$job/fuzz.exe"
    mkdir -p "$WORK/job-$job"
    cp "build/$preset/fuzz/fuzz.exe" "$program" || return 1
    case " $PARSERS " in *" $campaign "*) heap=1 ;; esac
    local args=("$campaign" --seed "$SEED")
    [ -n "$shard" ] && args+=(--shard "$shard")
    out="$(mktemp)"
    if [ "$heap" = 1 ]; then
        WINEDEBUG=warn+heap DISPLAY= timeout "$LIMIT" scripts/wine-run.sh "$program" "${args[@]}" \
            >"$out" 2>&1
    else
        DISPLAY= timeout "$LIMIT" scripts/wine-run.sh "$program" "${args[@]}" >"$out" 2>&1
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
        echo "$preset $label: crashed or stopped (exit code $status), seed $SEED"
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

run_machines() {
    local preset="$1" out status=0
    out="$(mktemp)"
    timeout "$LIMIT" python3 tests/fuzz/machines.py --exe "build/$preset/Uninstall.exe" \
        --build "build/$preset" --count "$MACHINES" --seed "$SEED" >"$out" 2>&1 || status=1
    grep -v "^machines: " "$out" | sed "s/^/  /"
    if grep -q "^machines: " "$out"; then
        echo "$preset $(grep "^machines: " "$out" | tail -1)"
    else
        echo "$preset machines: stopped, seed $SEED"
        tail -5 "$out" | sed "s/^/  /"
        status=1
    fi
    rm -f "$out"
    return $status
}

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win32 win64)

# The jobs, the longest first (as measured on two cores); each is "preset campaign [shard]".
jobs=()
for preset in "${presets[@]}"; do
    if [ "$preset" = win32 ]; then
        jobs+=("win32 faults 0/2" "win32 faults 1/2" "win32 cuts 0/2" "win32 cuts 1/2")
    else
        jobs+=("$preset faults" "$preset cuts 0/2" "$preset cuts 1/2")
    fi
done
for campaign in machines settings foreign list langfile langmodule switches; do
    for preset in "${presets[@]}"; do
        jobs+=("$preset $campaign")
    done
done

# Takes the next job number from the shared counter; none when the queue is empty.
next_job() {
    local n
    n="$(flock "$WORK/queue.lock" bash -c \
        'n=$(cat "$1"); echo $((n + 1)) >"$1"; echo "$n"' _ "$WORK/queue")"
    [ "$n" -lt "${#jobs[@]}" ] && echo "$n"
}

run_lane() {
    export BDL_WINEPREFIX="$1"
    scripts/wine-prefix.sh reset >/dev/null 2>&1 || return 1
    scripts/wine-prefix.sh start >/dev/null 2>&1 || return 1
    local n status=0
    while n="$(next_job)"; do
        # shellcheck disable=SC2086
        set -- ${jobs[$n]}
        if [ "$2" = machines ]; then
            run_machines "$1" >"$WORK/job-$n.log" 2>&1 || status=1
        else
            run_campaign "$n" "$@" >"$WORK/job-$n.log" 2>&1 || status=1
        fi
    done
    scripts/wine-prefix.sh stop >/dev/null 2>&1
    return $status
}

rm -rf "$WORK"
mkdir -p "$WORK"
echo 0 >"$WORK/queue"
echo "== fuzz: seed $SEED (FUZZ_SEED=$SEED make fuzz replays this run)"
started=$SECONDS
lanes=()
for lane in "$ROOT/build/wineprefix-win32" "$ROOT/build/wineprefix-win64"; do
    run_lane "$lane" &
    lanes+=($!)
done
trap 'kill "${lanes[@]}" 2>/dev/null' INT TERM
status=0
for pid in "${lanes[@]}"; do
    wait "$pid" || status=1
done
# Each preset's lines together, in the order of the campaigns.
for preset in "${presets[@]}"; do
    echo "== fuzz: $preset"
    for campaign in switches langfile langmodule settings list foreign faults cuts machines; do
        for n in "${!jobs[@]}"; do
            case "${jobs[$n]}" in
            "$preset $campaign" | "$preset $campaign "*) cat "$WORK/job-$n.log" 2>/dev/null ||
                { echo "$preset $campaign: never ran"; status=1; } ;;
            esac
        done
    done
done
echo "== fuzz: $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s in all," \
     "$([ $status = 0 ] && echo "no failures" || echo "FAILURES")"
exit $status
