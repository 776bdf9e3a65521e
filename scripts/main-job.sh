#!/usr/bin/env bash
# The main job. The Python module and the relay do not exist yet, so for now
# this builds the library and runs the benchmarks of what does exist (the
# cryptographic primitives and the session engine). It will become: a local
# relay plus several parties doing keygen and sign from Python.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "${JOBS:-$(nproc)}"

for bench in $(find build/release -type f -name '*_bench' -perm -u+x | sort); do
  echo "== $(basename "$bench")"
  "$bench" --benchmark_min_time=0.2
done
