#!/usr/bin/env bash
# Makes a throwaway test CA and a relay certificate for 127.0.0.1 signed by
# it, in the given directory: ca.crt, ca.key, relay.crt, relay.key.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 -subj '/CN=velto test CA' \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -keyout ca.key -out ca.crt 2>/dev/null
cat >relay.ext <<'EXT'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,DNS:localhost
EXT
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj '/CN=127.0.0.1' \
  -keyout relay.key -out relay.csr 2>/dev/null
openssl x509 -req -in relay.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 3650 -extfile relay.ext \
  -out relay.crt 2>/dev/null
rm -f relay.csr relay.ext ca.srl
