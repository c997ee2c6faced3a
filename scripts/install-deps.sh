#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine. Safe to run again: it only
# calls apt when something is missing.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

need=()
want_cmd() { have_cmd "$1" || need+=("$2"); }
want_pkg() { have_pkg "$1" || need+=("$1"); }

want_cmd cmake cmake
want_cmd make make
want_cmd python3 python3
want_cmd flock util-linux
want_cmd x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
want_cmd i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
want_cmd x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
want_cmd i686-w64-mingw32-windres binutils-mingw-w64-i686
want_cmd Xvfb xvfb
want_cmd osslsigncode osslsigncode
want_cmd openssl openssl
want_pkg wine
want_pkg wine64
# Without the preloaders Wine reserves its address space by trial and error, which takes
# minutes per process when the 32-bit half runs under emulation (below).
want_pkg wine64-preloader
[ -f /usr/src/googletest/googletest/src/gtest-all.cc ] || need+=(googletest)
# The SPDX licence and exception ids that make dist checks its bill of materials against.
want_pkg node-spdx-license-ids
want_pkg node-spdx-exceptions

# The 32-bit build runs under WOW64, which needs the i386 half of Wine.
update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    update=1
fi
have_pkg wine32:i386 || { need+=(wine32:i386); update=1; }
have_pkg wine32-preloader:i386 || { need+=(wine32-preloader:i386); update=1; }

if [ ${#need[@]} -gt 0 ]; then
    echo "install-deps: installing ${need[*]}"
    # A machine that has never run apt-get update knows no package at all.
    if [ "$update" -eq 1 ] || ! apt-cache show cmake >/dev/null 2>&1 ||
        [ -z "$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v lock)" ]; then
        # A mirror caught in its sync refuses one index now and then: tried again, and then the
        # indexes that did arrive still name the packages (the install below says if not).
        $SUDO apt-get update -qq || { sleep 20; $SUDO apt-get update -qq; } ||
            echo "install-deps: some package indexes could not be fetched; installing from the rest"
    fi
    if ! $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${need[@]}" >/dev/null; then
        # With one architecture's security index missing, the two halves of a multi-arch
        # package cannot be given one version: the release's own suites alone still can.
        echo "install-deps: trying again from the release's suites without its security updates"
        sources=$(mktemp -d)
        cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
            awk -v RS= -v ORS='\n\n' '!/security/' >"$sources/release.sources"
        grep -hs '^deb ' /etc/apt/sources.list | grep -v security >"$sources/release.list" || true
        $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            -o Dir::Etc::SourceParts="$sources" -o Dir::Etc::SourceList=/dev/null \
            "${need[@]}" >/dev/null
        rm -rf "$sources"
    fi
fi

# Some kernels (virtual machines with IA-32 emulation switched off) cannot run 32-bit code at
# all; there the i386 half of Wine runs under qemu's user-mode emulator, registered for i386
# ELF files. Nothing changes on a kernel that runs them natively.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    have_cmd qemu-i386-static || {
        echo "install-deps: this kernel cannot run 32-bit code; installing qemu-user-static"
        $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            qemu-user-static >/dev/null
    }
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e "$binfmt/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ ! -e "$binfmt/qemu-i386" ]; then
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        echo ":qemu-i386:M::$magic:$mask:$(command -v qemu-i386-static):F" |
            $SUDO tee "$binfmt/register" >/dev/null
    fi
    /lib/ld-linux.so.2 --version >/dev/null 2>&1 || {
        echo "install-deps: 32-bit programs still cannot run on this machine" >&2
        exit 1
    }
fi
