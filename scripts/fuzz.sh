#!/usr/bin/env bash
# Builds the LAN receiving side's fuzz target with clang (libFuzzer and the address sanitizer;
# Debian packages clang and libclang-rt-14-dev) in build-fuzz/ and runs it for the given number
# of seconds (default 60), starting from fuzz/corpus, with at most 1 GiB of memory. New inputs
# go to build-fuzz/corpus/, findings to build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
build=$(realpath -m "${NIRVEX_FUZZ_BUILD:-build-fuzz}")
seconds=${1:-60}
bash scripts/deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzz_receive
mkdir -p "$build/corpus" "$build/findings"
cd "$build/findings"
# fontconfig keeps its caches until the process ends; that is not ours to report.
export LSAN_OPTIONS=suppressions=$source/fuzz/lsan.supp
export ASAN_OPTIONS=quarantine_size_mb=64
QT_QPA_PLATFORM=offscreen ../fuzz_receive -max_total_time="$seconds" -rss_limit_mb=1024 \
  -max_len=8192 -print_final_stats=1 ../corpus "$source/fuzz/corpus"
