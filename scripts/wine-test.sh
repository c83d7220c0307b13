#!/usr/bin/env bash
# CTest's emulator for the Windows test executable: the case list is read
# under Wine as it is, and each case runs under Wine with a qlr-server of
# its own around it (scripts/with-server.sh), which the update runs need.
#
#   scripts/wine-test.sh PROGRAM.exe [--gtest_list_tests | --gtest_filter=...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for arg in "$@"; do
  if [ "$arg" = --gtest_list_tests ]; then exec "$here/wine-run.sh" "$@"; fi
done
# The HTTPS cases need the server to speak TLS with a test CA's certificate.
serve=()
for arg in "$@"; do
  case $arg in --gtest_filter=HttpsRun.*) serve=(--tls) ;; esac
done
exec "$here/with-server.sh" "${serve[@]}" "$here/wine-run.sh" "$@"
