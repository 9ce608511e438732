#!/usr/bin/env bash
# Builds every libFuzzer target of fuzz/ (fuzz_*.cpp) with clang and the address sanitizer
# (Debian packages clang and libclang-rt-14-dev) in build-fuzz/, or in $NIRVEX_FUZZ_BUILD, and
# runs each in turn for the given number of seconds (default 60), with at most 512 MB of memory,
# the leak check on and a time limit per input. Seeds come from fuzz/corpus-<name> (fuzz_receive:
# fuzz/corpus); each target keeps new inputs in <build>/runs/<target>/corpus and what it finds in
# <build>/runs/<target>/findings, with its whole output in findings/fuzz.log. Prints each target's
# final figures and exits non-zero when any target found a crash, leak, time-out or ran out of
# memory.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
build=$(realpath -m "${NIRVEX_FUZZ_BUILD:-build-fuzz}")
seconds=${1:-60}
bash scripts/deps.sh clang libclang-rt-14-dev

targets=()
for file in fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$file" .cpp)")
done

CC=clang CXX=clang++ cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

# fontconfig keeps its caches until the process ends; that is not ours to report.
export LSAN_OPTIONS=suppressions=$source/fuzz/lsan.supp
# Most of a run's memory is the sanitizer's: the quarantine that holds freed memory back to catch
# late use, and the freed memory its allocator keeps after that, together four to five times the
# quarantine (64 MB of it put fuzz_receive at 340 MB within a minute, 1 MB at 75 MB). With 32 MB
# and inputs of at most 8 KiB a passing run stays well under its 512 MB limit, so a slow growth
# of our own fails the run long before the machine runs short.
export ASAN_OPTIONS=quarantine_size_mb=32:detect_leaks=1
export QT_QPA_PLATFORM=offscreen

failed=()
for target in "${targets[@]}"; do
  seeds=$source/fuzz/corpus-${target#fuzz_}
  [ "$target" = fuzz_receive ] && seeds=$source/fuzz/corpus
  work=$build/runs/$target
  mkdir -p "$work/corpus" "$work/findings"
  log=$work/findings/fuzz.log
  echo "== $target: ${seconds} s"
  touch "$work/findings/.started"
  status=0
  (cd "$work/findings" &&
    "$build/$target" -max_total_time="$seconds" -rss_limit_mb=512 -detect_leaks=1 \
      -timeout=20 -max_len=8192 -print_final_stats=1 -artifact_prefix="$work/findings/" \
      "$work/corpus" $([ -d "$seeds" ] && echo "$seeds")) >"$log" 2>&1 || status=$?
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb|new_units_added)' \
    "$log" | sed "s/^/  /" || true
  found=$(find "$work/findings" -maxdepth 1 \
    \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) -newer "$work/findings/.started" \
    2>/dev/null | wc -l)
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    echo "  FAILED (exit status $status): see $log"
    grep -E '^==[0-9]+==ERROR|^SUMMARY|deadly signal|ERROR: libFuzzer' "$log" | head -5 | sed "s/^/  /" || true
    failed+=("$target")
  else
    echo "  ok"
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Findings in: ${failed[*]}" >&2
  exit 1
fi
