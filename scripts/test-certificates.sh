#!/usr/bin/env bash
# Makes a throw-away certificate authority and server certificates for the
# HTTPS tests. Trust the CA only inside a test machine (a sandbox root, the
# test Wine prefix), never on the host.
#
#   scripts/test-certificates.sh FOLDER
#
# FOLDER/ca.pem, ca.der                the test CA (PEM and DER)
# FOLDER/server.pem, server-key.pem    for localhost, signed by the test CA
# FOLDER/untrusted.pem, untrusted-key.pem  for localhost, signed by no one trusted
# FOLDER/codesign.pem, codesign-key.pem    for signing executables, signed by the test CA
set -euo pipefail
if [ $# -ne 1 ] || [ "$1" = --help ] || [ "$1" = -h ]; then
  sed -n '2,12s/^# \{0,1\}//p' "$0"
  [ $# -eq 1 ] && exit 0 || exit 2
fi
mkdir -p "$1"
cd "$1"
quiet() { "$@" >/dev/null 2>&1 || { echo "test-certificates.sh: failed: $*" >&2; exit 1; }; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca-key.pem -out ca.pem -days 7 \
  -subj "/CN=Tovanel test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign"
quiet openssl x509 -in ca.pem -outform DER -out ca.der
quiet openssl req -newkey rsa:2048 -nodes -keyout server-key.pem -out server.csr -subj "/CN=localhost"
printf '%s\n' "subjectAltName=DNS:localhost" "basicConstraints=CA:FALSE" \
  "keyUsage=digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" >server.ext
quiet openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -out server.pem -days 7 \
  -extfile server.ext
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout untrusted-key.pem -out untrusted.pem -days 7 \
  -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost"
quiet openssl req -newkey rsa:2048 -nodes -keyout codesign-key.pem -out codesign.csr -subj "/CN=Tessaly test signer"
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
  >codesign.ext
quiet openssl x509 -req -in codesign.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -out codesign.pem -days 7 \
  -extfile codesign.ext
