#!/usr/bin/env bash
# Installs what the builds, the tests and the demonstration need on a fresh
# Debian 12 machine. Does nothing for packages already present.
#
# 32-bit Wine (wine32:i386) is installed only where the kernel runs 32-bit
# programs; elsewhere 64-bit Wine alone, and the Windows tests use the 64-bit
# build (scripts/windows-build.sh). A half-synced mirror is survived: a failed
# index is a warning, and a package that cannot be installed is named with
# what it costs, as long as the rest installs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/windows-build.sh"

packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev googletest zlib1g-dev libcurl4-openssl-dev
          libssl-dev openssl osslsigncode
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 xvfb xauth liblnk-utils curl
          imagemagick x11-utils nginx chromium clang libclang-rt-14-dev)
packages+=(clang-format clang-tidy)  # scripts/format.sh, scripts/tidy.sh
runs32=0
if machine_runs_32bit; then
  runs32=1
  packages+=(wine32:i386)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
if [ $runs32 = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi

# A mirror mid-sync fails one index now and then; the others are still good.
for attempt in 1 2 3; do
  if $sudo apt-get update -qq 2>/tmp/qlr-apt-update.err; then
    break
  fi
  if [ $attempt = 3 ]; then
    echo "warning: apt-get update reported failed indexes (mirror mid-sync?); going on with the indexes it has:" >&2
    grep -E '^(E|W):' /tmp/qlr-apt-update.err | head -5 >&2 || true
  else
    sleep $((attempt * 2))
  fi
done

# What each package costs when it cannot be installed today.
cost_of() {
  case $1 in
    wine32:i386) echo "the Windows tests use the 64-bit build" ;;
    nginx) echo "the tests and demonstration against nginx cannot run" ;;
    chromium) echo "the check-in report's screenshot cannot be taken" ;;
    imagemagick | x11-utils) echo "the progress window's screenshot cannot be taken" ;;
    clang | libclang-rt-14-dev) echo "the fuzz targets cannot be built" ;;
    clang-format | clang-tidy) echo "scripts/format.sh and scripts/tidy.sh cannot run" ;;
    *) echo "the builds and tests need it" ;;
  esac
}
optional() {
  case $1 in
    wine32:i386 | chromium | imagemagick | x11-utils | clang-format | clang-tidy) return 0 ;;
    *) return 1 ;;
  esac
}

if $sudo apt-get install -y -qq "${missing[@]}" >/tmp/qlr-apt-install.log 2>&1; then
  exit 0
fi
# All at once failed: install one by one to learn which cannot be had today.
status=0
for p in "${missing[@]}"; do
  if ! $sudo apt-get install -y -qq "$p" >>/tmp/qlr-apt-install.log 2>&1; then
    if optional "$p"; then
      echo "warning: $p cannot be installed today (mirror?); $(cost_of "$p")" >&2
    else
      echo "error: $p cannot be installed; $(cost_of "$p") (see /tmp/qlr-apt-install.log)" >&2
      status=1
    fi
  fi
done
exit $status
