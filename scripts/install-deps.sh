#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: packages already present are not reinstalled, and the Python
# virtual environment is only created once.
set -euo pipefail
cd "$(dirname "$0")/.."

DEB_PACKAGES=(
  build-essential cmake ninja-build pkg-config git ca-certificates openssl
  libssl-dev libsecp256k1-dev libsodium-dev libboost1.81-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev librust-blake3-dev
  python3 python3-dev python3-venv python3-pip
)

missing=()
for p in "${DEB_PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "missing Debian packages (run as root to install them): ${missing[*]}" >&2
    exit 1
  fi
  echo "installing Debian packages: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Python tooling and test oracles live in a project-local virtual environment.
PY=${PYTHON:-python3}
if [[ ! -x .venv/bin/python ]]; then
  "$PY" -m venv .venv
fi
if ! cmp -s requirements.txt .venv/.requirements-installed 2>/dev/null; then
  .venv/bin/python -m pip install -q --disable-pip-version-check --upgrade pip
  .venv/bin/python -m pip install -q --disable-pip-version-check -r requirements.txt
  cp requirements.txt .venv/.requirements-installed
fi
