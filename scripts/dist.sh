#!/usr/bin/env bash
# make dist: the release in build/dist/, made from the committed tree. Builds only what ships, for
# both architectures, in the build folders that make test tests, so the zips hold the bytes the
# tests ran. With CERT and KEY (and TSA) it signs copies of the executables through sign.sh, and
# checks that taking the signature off again gives back exactly the built bytes. Everything
# written is dated by the last commit (SOURCE_DATE_EPOCH), so two runs on one commit, in any
# folder and at any time, write the same bytes; signed executables differ in their signatures
# (each carries its signing time), and taken off, these leave the same bytes again.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

# A release names its commit: changed or new files would go into it unnamed (the build globs
# every source file of a folder).
if [ -n "$(git status --porcelain)" ]; then
    git status --short >&2
    echo "dist: the tree differs from its last commit; commit or stash first" >&2
    exit 1
fi
commit="$(git rev-parse HEAD)"
export SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"

for preset in win32 win64; do
    [ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
    MAKEFLAGS= cmake --build --preset "$preset" -j2 --target Uninstall
done

stage="build/dist-stage"
rm -rf "$stage"
for preset in win32 win64; do
    mkdir -p "$stage/$preset"
    cp "build/$preset/Uninstall.exe" "build/$preset/Uninstall.debug" "$stage/$preset/"
done
if [ -n "${CERT:-}" ] && [ -n "${KEY:-}" ]; then
    scripts/sign.sh "$stage/win32/Uninstall.exe" "$stage/win64/Uninstall.exe"
    for preset in win32 win64; do
        unsigned="$stage/$preset/unsigned.exe"
        osslsigncode remove-signature -in "$stage/$preset/Uninstall.exe" -out "$unsigned" \
            >/dev/null
        cmp -s "$unsigned" "build/$preset/Uninstall.exe" || {
            echo "dist: $preset: the signed Uninstall.exe without its signature is not the" \
                "built one" >&2
            exit 1
        }
        rm "$unsigned"
        echo "dist: $preset: signed; without its signature it is the built Uninstall.exe again"
    done
else
    echo "dist: no certificate given (CERT=cert.pem KEY=key.pem): the executables are unsigned"
fi

python3 scripts/dist.py --stage "$stage" --build build --out build/dist --commit "$commit"
rm -rf "$stage"
python3 scripts/spdx-check.py build/dist/*.spdx.json
(cd build/dist && sha256sum --quiet -c SHA256SUMS)
echo "dist: build/dist/ for commit $commit:"
(cd build/dist && cat SHA256SUMS)
