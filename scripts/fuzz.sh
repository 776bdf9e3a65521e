#!/usr/bin/env bash
# Runs the fuzz harnesses under libFuzzer: installs clang-19 when missing,
# builds them in build/fuzz with clang-19 and VELTO_FUZZ=ON, then runs each
# for SECONDS (default 300) on a copy of its committed corpus, at most
# FUZZ_JOBS (default 4) at a time. Reports per harness the executions per
# second, the coverage and any finding; a crashing input is left in
# build/fuzz/findings/. Exit code 1 when anything was found.
#
#   scripts/fuzz.sh [SECONDS] [REGEX]
#
# REGEX selects harnesses by "<component dir>/<name>" (default: all).
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${1:-300}
FILTER=${2:-.}
JOBS=${FUZZ_JOBS:-4}
BUILD=build/fuzz

if ! command -v clang++-19 >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-19 libclang-rt-19-dev >/dev/null
fi
./scripts/install-deps.sh >/dev/null

mkdir -p "$(dirname "$BUILD")"
CC=clang-19 CXX=clang++-19 cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DVELTO_FUZZ=ON -DVELTO_TESTS=OFF \
  -DVELTO_BENCHMARKS=OFF -DVELTO_RELAY=OFF >"$BUILD.configure.log"

# The harness id of <component dir> <name>: the target name without _fuzz.
harness_id() {
  local lib=${1//-/_}
  [[ $lib == velto_* ]] || lib=velto_$lib
  echo "${lib}_$2"
}

# <component dir> <harness name> per selected harness.
harnesses=()
targets=()
for src in */fuzz/*_fuzz.cpp; do
  dir=${src%%/*}
  name=$(basename "$src" _fuzz.cpp)
  if [[ "$dir/$name" =~ $FILTER ]]; then
    harnesses+=("$dir $name")
    targets+=("$(harness_id "$dir" "$name")_fuzz")
  fi
done
((${#harnesses[@]})) || { echo "no harness matches $FILTER" >&2; exit 2; }
cmake --build "$BUILD" --target "${targets[@]}" -j "${BUILD_JOBS:-4}"

mkdir -p "$BUILD/findings" "$BUILD/runs"

run_one() {
  local dir=$1 name=$2
  local id
  id=$(harness_id "$dir" "$name")
  local bin=$BUILD/fuzz/${id}_fuzz
  local work=$BUILD/runs/$id
  rm -rf "$work" && mkdir -p "$work/corpus"
  cp "$dir/fuzz/corpus/$name/"* "$work/corpus/"
  set +e
  "$bin" "$work/corpus" -max_total_time="$SECONDS_EACH" -timeout=30 -rss_limit_mb=4096 \
    -artifact_prefix="$BUILD/findings/$id-" -print_final_stats=1 >"$work/log" 2>&1
  local rc=$?
  set -e
  echo "$rc" >"$work/rc"
}

running=0
for h in "${harnesses[@]}"; do
  # shellcheck disable=SC2086
  run_one $h &
  running=$((running + 1))
  if ((running >= JOBS)); then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

status=0
printf '%-42s %10s %8s %8s %10s  %s\n' harness runs exec/s cov ft result
for h in "${harnesses[@]}"; do
  read -r dir name <<<"$h"
  id=$(harness_id "$dir" "$name")
  log=$BUILD/runs/$id/log
  rc=$(cat "$BUILD/runs/$id/rc")
  runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo '?')
  eps=$(grep -oE 'stat::average_exec_per_sec: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo '?')
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+' <<<"$last" | grep -oE '[0-9]+' || echo '?')
  ft=$(grep -oE 'ft: [0-9]+' <<<"$last" | grep -oE '[0-9]+' || echo '?')
  if [[ $rc == 0 ]]; then
    result=ok
  else
    result="FINDING (rc $rc): $(ls "$BUILD/findings/$id-"* 2>/dev/null | tr '\n' ' ')"
    status=1
  fi
  printf '%-42s %10s %8s %8s %10s  %s\n' "$id" "$runs" "$eps" "$cov" "$ft" "$result"
done
exit $status
