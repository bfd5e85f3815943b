#!/usr/bin/env bash
# A test root certificate authority and a code-signing certificate it issued,
# as a product team's signing certificate is (never self-signed). Made when
# the tests' tree is configured, never committed.
# Usage: make_signing_chain.sh OUTDIR NAME
#   writes root.pem (the root), signing_cert.pem and signing_key.pem (the leaf, "NAME Code Signing")
set -euo pipefail
out="$1"
name="$2"
mkdir -p "$out"
cd "$out"
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -sha256 -subj "/CN=$name Test Root CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout root.key -out root.pem 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=$name Code Signing" -keyout signing_key.pem -out signing.csr 2>/dev/null
cat > signing.ext <<'EXT'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
EXT
openssl x509 -req -in signing.csr -CA root.pem -CAkey root.key -CAcreateserial -days 3650 -sha256 \
  -extfile signing.ext -out signing_cert.pem 2>/dev/null
rm -f signing.csr signing.ext root.srl root.key
