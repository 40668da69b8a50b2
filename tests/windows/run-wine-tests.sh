#!/usr/bin/env bash
# Cross-builds the Windows side of the seam with mingw-w64 and runs its tests under
# Wine in a fresh, temporary Wine prefix.
#   run-wine-tests.sh SOURCE_ROOT BUILD_DIR [ICON]
# ICON is the program's icon; when it does not exist yet, a plain one is made here.
set -euo pipefail

source_root=$1
build_dir=$2
icon=${3:-}

for tool in cmake x86_64-w64-mingw32-g++ x86_64-w64-mingw32-windres wine wineboot wineserver; do
  if ! command -v "$tool" >/dev/null; then
    echo "run-wine-tests: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done

mkdir -p "$build_dir"
if [ -z "$icon" ] || [ ! -f "$icon" ]; then
  icon=$build_dir/fallback.ico
  if [ ! -f "$icon" ]; then
    convert -size 32x32 "xc:#318203" "$icon"
  fi
fi

generator=()
if command -v ninja >/dev/null; then
  generator=(-G Ninja)
fi
cmake -S "$source_root/tests/windows/cross" -B "$build_dir/cross" "${generator[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$source_root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARINO_ICON="$icon"
cmake --build "$build_dir/cross"

prefix=$(mktemp -d "${TMPDIR:-/tmp}/tessarino-wine.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko installer windows, and no display needed.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
# The fake Remote Desktop client, where %systemroot%\system32\mstsc.exe points.
cp "$build_dir/cross/recorder.exe" "$prefix/drive_c/windows/system32/mstsc.exe"

set +e
wine "$build_dir/cross/windows_tests.exe" 2> >(grep -v -e 'wine32 is missing' -e 'multiarch needs' \
  -e 'dpkg --add-architecture' -e 'apt-get install wine32' >&2)
status=$?
set -e
wineserver -w >/dev/null 2>&1 || true
exit $status
