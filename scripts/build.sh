#!/usr/bin/env bash
# Configures and builds Nirvex in build/ (or the folder given as $NIRVEX_BUILD).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${NIRVEX_BUILD:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
