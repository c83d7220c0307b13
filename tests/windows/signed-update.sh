#!/usr/bin/env bash
# The release path's signed executables: Tovanel.exe, qlrpak.exe and the
# stand-in are signed with a throw-away certificate of a test CA
# (scripts/sign-executables.sh); each signature verifies against that CA, not
# against another, and not once a byte has changed; the signed programs then
# go through whole updates under Wine, a signed executable in the package
# replacing the running one.
#
#   tests/windows/signed-update.sh BIN_FOLDER
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "signed-update.sh: $*" >&2; exit 1; }

"$source_dir/scripts/test-certificates.sh" "$work/certs"
mkdir "$work/bin"
cp "$bin"/{Tovanel.exe,Tovanel-testkey.exe,standin.exe,qlrpak.exe,tovanel_win_tests.exe} "$work/bin/"
signed=("$work/bin/Tovanel.exe" "$work/bin/qlrpak.exe" "$work/bin/standin.exe")
QLR_SIGN_CA="$work/certs/ca.pem" "$source_dir/scripts/sign-executables.sh" \
  "$work/certs/codesign.pem" "$work/certs/codesign-key.pem" "${signed[@]}"

verify() { osslsigncode verify -CAfile "$1" -in "$2" >/dev/null 2>&1; }
for file in "${signed[@]}"; do
  verify "$work/certs/ca.pem" "$file" || fail "$file does not verify against the test CA"
  verify "$work/certs/untrusted.pem" "$file" && fail "$file verifies against a foreign authority"
done
cp "$work/bin/Tovanel.exe" "$work/tampered.exe"
printf 'X' | dd of="$work/tampered.exe" bs=1 seek=4096 conv=notrunc status=none
verify "$work/certs/ca.pem" "$work/tampered.exe" && fail "a changed executable still verifies"

"$source_dir/scripts/wine-test.sh" "$work/bin/tovanel_win_tests.exe" \
  --gtest_filter=UpdateRun.RunningProgramIsReplacedByTheUpdate:UpdateRun.NewerPackageIsDownloadedAndUnpacked
