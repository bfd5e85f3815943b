#!/usr/bin/env bash
# Makes the telemetry tests' certificate authority and the service's
# certificate for "localhost" (a DNS name: Wine refuses name checks against
# 127.0.0.1). Generated at build time into the build tree, never committed.
# Usage: make_test_pki.sh OUTDIR   (writes ca.pem, ca.der, server.pem, server.key)
set -euo pipefail
out="$1"
mkdir -p "$out"
cd "$out"
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -sha256 -subj "/CN=Tessary Telemetry Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout ca.key -out ca.pem 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr 2>/dev/null
cat > server.ext <<'EXT'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost
EXT
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 -sha256 \
  -extfile server.ext -out server.pem 2>/dev/null
openssl x509 -in ca.pem -outform DER -out ca.der
rm -f server.csr server.ext ca.srl
