#!/usr/bin/env bash
# The test command: installs what is missing, builds the project twice (an
# optimised build with debug info, and an AddressSanitizer +
# UndefinedBehaviorSanitizer build) and runs every test in both.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

JOBS=${JOBS:-$(nproc)}
LOGDIR=build/logs
mkdir -p "$LOGDIR"

configure_and_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$LOGDIR/$(basename "$dir")-configure.log"
  cmake --build "$dir" -j "$JOBS"
}

# Line tables are debug info enough for the test run's backtraces, and make
# the optimised build a third faster.
echo "== build: release"
configure_and_build build/release -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
echo "== build: sanitizers"
configure_and_build build/sanitize -DVELTO_SANITIZE=ON -DVELTO_BENCHMARKS=OFF

passed=0
failed=0
status=0
run_ctest() {
  local name=$1 dir=$2
  echo "== tests: $name"
  local log="$LOGDIR/ctest-$name.log"
  set +e
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  # "100% tests passed out of 42" or "95% tests passed, 2 tests failed out of 42"
  local line total nfail
  line=$(grep -E 'tests passed(, [0-9]+ tests? failed)? out of [0-9]+' "$log" | tail -1 || true)
  if [[ -n $line ]]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    if [[ $line =~ ([0-9]+)\ tests?\ failed ]]; then nfail=${BASH_REMATCH[1]}; else nfail=0; fi
    passed=$((passed + total - nfail))
    failed=$((failed + nfail))
  elif ((rc != 0)); then
    failed=$((failed + 1))
  fi
  ((rc == 0)) || status=1
}

run_ctest release build/release
run_ctest sanitize build/sanitize

echo
echo "Summary: $passed passed, $failed failed"
exit $status
