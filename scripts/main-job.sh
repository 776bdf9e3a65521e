#!/usr/bin/env bash
# The main job: builds the Python module with a fresh throwaway CA compiled in
# as an extra trusted root, starts the local relay with a certificate from that
# CA, and runs the demo: three parties generate a 2-of-3 ECDSA key, two sign a
# message hash under a derived child key, and an independent library verifies
# the signature. Exits with the demo's status.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

work=build/main-job
mkdir -p "$work"
pki=$(mktemp -d "$work/pki.XXXXXX")
./scripts/gen-test-ca.sh "$pki"

echo "== building the module and the relay"
cmake -S . -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTO_TESTS=OFF -DVELTO_BENCHMARKS=OFF \
  -DVELTO_EXTRA_ROOT_PEM="$PWD/$pki/ca.crt" >"$work/configure.log"
cmake --build "$work/build" -j "${JOBS:-$(nproc)}" --target karvane_wallet_mpc velto_relay

relay_out="$pki/relay.out"
env -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
  "$work/build/tools/relay/velto_relay" --cert "$pki/relay.crt" --key "$pki/relay.key" \
  --listen 127.0.0.1 --port 0 >"$relay_out" 2>&1 &
relay_pid=$!
cleanup() {
  kill "$relay_pid" 2>/dev/null || true
  wait "$relay_pid" 2>/dev/null || true
  rm -rf "$pki"
}
trap cleanup EXIT

for _ in $(seq 100); do
  grep -q '^listening on ' "$relay_out" 2>/dev/null && break
  sleep 0.1
done
host=$(sed -n 's/^listening on //p' "$relay_out" | head -1)
[[ -n $host ]] || { echo "the relay did not start:"; cat "$relay_out"; exit 1; }

echo "== demo"
env -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
  PYTHONPATH="$work/build/karvane_wallet_mpc" .venv/bin/python karvane_wallet_mpc/demo/main_job.py "$host"
