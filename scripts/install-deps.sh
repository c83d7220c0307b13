#!/usr/bin/env bash
# Installs what the builds, the tests and the demonstration need on a fresh
# Debian 12 machine. Does nothing for packages already present.
set -euo pipefail
packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev googletest zlib1g-dev libcurl4-openssl-dev libcpp-httplib-dev
          libssl-dev openssl osslsigncode
          g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386 xvfb xauth liblnk-utils curl
          imagemagick x11-utils nginx chromium clang libclang-rt-14-dev)
packages+=(clang-format clang-tidy)  # scripts/format.sh, scripts/tidy.sh
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
