#!/usr/bin/env bash
# `make demo`: the program's main job in a sandbox prefix of its own (build/demo-prefix).
set -euo pipefail
exec python3 "$(dirname "${BASH_SOURCE[0]}")/demo.py"
