#!/bin/bash
# Builds the Windows release archives build/release/Quillon-<version>-win32.zip and
# Quillon-<version>-win64.zip: qmApp.exe, qm_url.dll, Pagesnap.exe and a short read-me
# each, nothing else needed on the user's machine.
#
#   scripts/release.sh                  build both release trees and pack them
#   scripts/release.sh --from BIN OUT   pack the binaries already in BIN into folder OUT
set -euo pipefail
. "$(dirname "$0")/env.sh"

binaries=(qmApp.exe qm_url.dll Pagesnap.exe)
# What the binaries may import: Windows' own DLLs and our library.
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|ws2_32|wininet|windowscodecs|msvcrt|version|uxtheme|imm32|winmm|oleacc|rpcrt4|crypt32|bcrypt|secur32|qm_url)\.dll$'

pack() {  # BIN OUT VERSION
  local bin=$1 out=$2 version=$3
  # The archive is named for the processor the binaries were built for.
  local kind tools bits
  kind=$(qm_pe_kind "$bin/qm_url.dll")
  case $kind in
    win32) tools=i686-w64-mingw32 bits=32 ;;
    win64) tools=x86_64-w64-mingw32 bits=64 ;;
    *) echo "release: $bin/qm_url.dll is not a Windows library" >&2; exit 1 ;;
  esac
  local name="Quillon-$version-$kind"
  local stage="$out/$name"
  rm -rf "$stage" "$out/$name.zip"
  mkdir -p "$stage"
  for b in "${binaries[@]}"; do
    [ -f "$bin/$b" ] || { echo "release: $bin/$b is missing" >&2; exit 1; }
    cp "$bin/$b" "$stage/"
    [ "$(qm_pe_kind "$stage/$b")" = "$kind" ] || { echo "release: $b is not $kind" >&2; exit 1; }
    $tools-strip --strip-unneeded "$stage/$b"
    # Anything beyond the system's DLLs would be missing on the user's machine.
    local dll
    for dll in $($tools-objdump -p "$stage/$b" | awk '/DLL Name:/ {print tolower($3)}'); do
      if ! [[ $dll =~ $system_dlls ]]; then
        echo "release: $b needs $dll, which a Windows machine does not have" >&2
        exit 1
      fi
    done
  done
  # Windows line ends, so that every editor shows it as written.
  sed -e "s/@VERSION@/$version/g" -e "s/@BITS@/$bits/g" -e 's/$/\r/' \
    "$QM_ROOT/packaging/README-windows.txt" >"$stage/README.txt"
  (cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")
  rm -rf "$stage"
  echo "$out/$name.zip"
}

version_of() {  # BUILD-DIR
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"
}

if [ "${1:-}" = --from ]; then
  bin=$(cd "$2" && pwd)
  mkdir -p "$3"
  pack "$bin" "$(cd "$3" && pwd)" "$(version_of "$bin/..")"
  exit 0
fi

"$QM_ROOT/scripts/setup-packages" build windows
release=$QM_ROOT/build/release
for kind in win32 win64; do
  qm_configure_and_build "$release/$kind" -DCMAKE_TOOLCHAIN_FILE="$(qm_windows_toolchain "$kind")" \
    -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF
  pack "$release/$kind/bin" "$release" "$(version_of "$release/$kind")"
done
