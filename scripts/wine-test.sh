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
# The HTTP contract's https cases are whole replies served over TLS (scripts/tls-pages.sh).
for arg in "$@"; do
  case $arg in
    --gtest_filter=HttpContract.*)
      pages=$(mktemp -d "${TMPDIR:-/tmp}/qlr-tls-pages.XXXXXX")
      trap '"$here/tls-pages.sh" stop "$pages"; rm -rf "$pages"' EXIT
      QLR_TLS_PAGES_BASE=$("$here/tls-pages.sh" start "$pages")
      export QLR_TLS_PAGES=$pages QLR_TLS_PAGES_BASE
      status=0
      "$here/with-server.sh" "${serve[@]}" "$here/wine-run.sh" "$@" || status=$?
      exit $status
      ;;
  esac
done
exec "$here/with-server.sh" "${serve[@]}" "$here/wine-run.sh" "$@"
