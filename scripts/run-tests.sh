#!/usr/bin/env bash
# Runs every test of the given presets in the test prefix, with one wineserver kept alive for
# the whole run. Fails when any test fails.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
"$ROOT/scripts/wine-prefix.sh" reset || exit 1
"$ROOT/scripts/wine-prefix.sh" start || exit 1
trap '"$ROOT/scripts/wine-prefix.sh" stop' EXIT
status=0
for preset in "$@"; do
    echo "== tests: $preset"
    ctest --preset "$preset" || status=1
done
exit $status
