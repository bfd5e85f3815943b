#!/bin/sh
# Signature vectors made by openssl alone, as a release pipeline makes them:
#   OUT/key_a.pem, key_b.pem (RSA 3072), key_small.pem (RSA 2048), and their
#   public halves as PEM and DER; message.bin; signatures of message.bin:
#   good.sig (key_a), wrong_key.sig (key_b), small_key.sig (key_small),
#   flipped.sig (good.sig with one bit changed), truncated.sig (good.sig
#   without its last byte), empty.sig; message_flipped.bin (message.bin with
#   one bit changed).
set -eu
out=$1
mkdir -p "$out"
cd "$out"
for key_entry in a:3072 b:3072 small:2048; do
  name=${key_entry%%:*}
  bits=${key_entry#*:}
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:"$bits" -out key_"$name".pem 2>/dev/null
  openssl pkey -in key_"$name".pem -pubout -out key_"$name"_public.pem
  openssl pkey -in key_"$name".pem -pubout -outform DER -out key_"$name"_public.der
done
# PKCS #1 form of key A, as older tools write it.
openssl rsa -in key_a.pem -traditional -out key_a_rsa.pem 2>/dev/null
head -c 3000 /dev/urandom > message.bin
openssl dgst -sha256 -sign key_a.pem -out good.sig message.bin
openssl dgst -sha256 -sign key_b.pem -out wrong_key.sig message.bin
openssl dgst -sha256 -sign key_small.pem -out small_key.sig message.bin
: > empty.sig
python3 - <<'PY'
good = bytearray(open('good.sig', 'rb').read())
flipped = bytearray(good)
flipped[len(flipped) // 2] ^= 0x04
open('flipped.sig', 'wb').write(flipped)
open('truncated.sig', 'wb').write(good[:-1])
message = bytearray(open('message.bin', 'rb').read())
message[100] ^= 0x01
open('message_flipped.bin', 'wb').write(message)
PY
# The verdicts openssl itself gives, for the record.
openssl dgst -sha256 -verify key_a_public.pem -signature good.sig message.bin >/dev/null
! openssl dgst -sha256 -verify key_a_public.pem -signature flipped.sig message.bin >/dev/null 2>&1
