#!/usr/bin/env bash
# Gives Windows executables an Authenticode signature (SHA-256) with the
# maker's code-signing certificate, in place, and checks each one afterwards.
#
#   scripts/sign-executables.sh CERT.pem KEY.pem FILE.exe...
#
# CERT.pem  the code-signing certificate, then the authorities between it and
#           the root, PEM
# KEY.pem   its private key, PEM; QLR_SIGN_PASSWORD_FILE names a file holding
#           the key's passphrase when it has one
# QLR_TIMESTAMP_URL  an RFC 3161 time-stamp server: the signature then stays
#           valid after the certificate expires (set it for every release)
# QLR_SIGN_CA  a CA file to check the new signatures against (tests)
set -euo pipefail
if [ $# -lt 3 ] || [ "$1" = --help ] || [ "$1" = -h ]; then
  sed -n '2,14s/^# \{0,1\}//p' "$0"
  [ "${1:-}" = --help ] || [ "${1:-}" = -h ] && exit 0 || exit 2
fi
command -v osslsigncode >/dev/null || { echo "sign-executables.sh: osslsigncode is not installed" >&2; exit 2; }
cert=$1 key=$2
shift 2
options=(-certs "$cert" -key "$key" -h sha256 -n Quillory -i https://www.tessaly.example/)
[ -n "${QLR_SIGN_PASSWORD_FILE:-}" ] && options+=(-readpass "$QLR_SIGN_PASSWORD_FILE")
[ -n "${QLR_TIMESTAMP_URL:-}" ] && options+=(-ts "$QLR_TIMESTAMP_URL")
for file in "$@"; do
  signed="$file.signed"
  # A signature already there is replaced, never nested.
  if ! osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >/dev/null; then
    rm -f "$signed"
    echo "sign-executables.sh: cannot sign $file" >&2
    exit 1
  fi
  mv "$signed" "$file"
  if [ -n "${QLR_SIGN_CA:-}" ] && ! osslsigncode verify -CAfile "$QLR_SIGN_CA" -in "$file" >/dev/null; then
    echo "sign-executables.sh: the signature of $file does not verify" >&2
    exit 1
  fi
  echo "signed $file"
done
