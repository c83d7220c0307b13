# Which Windows build this machine can test: sourced by the scripts that run
# Windows programs under Wine. The 32-bit Tovanel.exe is what ships; where the
# kernel cannot run 32-bit programs (or 32-bit Wine is missing) the same
# sources built for x86-64 run under 64-bit Wine instead.
#
#   . scripts/windows-build.sh
#   choose_windows_build      # sets windows_bits (32|64), windows_preset
#                             # (windows|windows64), windows_build_dir and
#                             # windows_bin, exports QLR_WINEARCH (win32|win64)
#                             # for scripts/wine-run.sh; prints one line saying
#                             # which and why
#
# QLR_WINDOWS_BUILD=32 or 64 forces the choice; forcing 32 where 32-bit
# programs cannot run fails with a message.

# True when the kernel runs a 32-bit x86 program: a minimal static i386 ELF
# that exits with 42, written here so that nothing needs to be installed.
machine_runs_32bit() {
  local probe status
  probe=$(mktemp "${TMPDIR:-/tmp}/qlr-i386-probe.XXXXXX") || return 1
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0' >"$probe"
  printf '\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0' >>"$probe"
  printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0' >>"$probe"
  # mov eax, 1; mov ebx, 42; int 0x80
  printf '\270\1\0\0\0\273\52\0\0\0\315\200' >>"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# 32-bit Wine's loader, as Debian installs it (package wine32:i386).
wine32_installed() { [ -x /usr/lib/wine/wine ]; }

choose_windows_build() {
  local why
  case "${QLR_WINDOWS_BUILD:-}" in
    32)
      if ! machine_runs_32bit; then
        echo "QLR_WINDOWS_BUILD=32, but this machine cannot run 32-bit programs (Exec format error); unset it or use 64" >&2
        return 1
      fi
      if ! wine32_installed; then
        echo "QLR_WINDOWS_BUILD=32, but 32-bit Wine is not installed (apt-get install wine32:i386); unset it or use 64" >&2
        return 1
      fi
      windows_bits=32 why="forced by QLR_WINDOWS_BUILD=32"
      ;;
    64) windows_bits=64 why="forced by QLR_WINDOWS_BUILD=64" ;;
    "")
      if ! machine_runs_32bit; then
        windows_bits=64 why="this machine cannot run 32-bit programs"
      elif ! wine32_installed; then
        windows_bits=64 why="32-bit Wine is not installed"
      else
        windows_bits=32 why="this machine runs 32-bit programs"
      fi
      ;;
    *)
      echo "QLR_WINDOWS_BUILD must be 32 or 64, not '$QLR_WINDOWS_BUILD'" >&2
      return 1
      ;;
  esac
  if [ "$windows_bits" = 32 ]; then
    windows_preset=windows QLR_WINEARCH=win32
  else
    windows_preset=windows64 QLR_WINEARCH=win64
  fi
  export QLR_WINEARCH
  windows_build_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/$windows_preset
  windows_bin=$windows_build_dir/bin
  echo "Windows: $windows_bits-bit build under $windows_bits-bit Wine ($why)"
}
