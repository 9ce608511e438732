#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite; then builds everything again
# with the address and undefined-behaviour sanitizers in build-sanitize/ (or $NIRVEX_SANITIZE_BUILD)
# and runs the suite there too, all but the long soak test; last, runs every fuzz target 60 s.
# Stops at the first step that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
ctest --test-dir "${NIRVEX_BUILD:-build}" --output-on-failure

sanitize_build=${NIRVEX_SANITIZE_BUILD:-build-sanitize}
NIRVEX_BUILD=$sanitize_build bash scripts/build.sh -DNIRVEX_SANITIZE=ON -DCMAKE_CXX_COMPILER=g++
# Any finding, a leak included, ends the test program with a failure. tests/sanitize.supp lists
# the leaks inside third-party libraries that are not ours to mend.
asan=halt_on_error=1:detect_leaks=1:print_stacktrace=1:detect_stack_use_after_return=1
asan+=:check_initialization_order=1:strict_init_order=1
ASAN_OPTIONS=$asan UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/sanitize.supp:print_suppressions=0 \
  ctest --test-dir "$sanitize_build" --output-on-failure -LE soak

bash scripts/fuzz.sh 60
