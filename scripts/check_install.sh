#!/usr/bin/env bash
# Installs a build into a temporary prefix, then builds and runs two small programs
# against it: one through the CMake package, one through pkg-config. Each loads an
# image, makes its negative and saves it; the result must equal what the installed
# vexa tool writes for the same operation.
#     check_install.sh [BUILD_DIR]      (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/default}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
image=$(realpath ../shared/testdata/pcx/zigimg/test-bpp24.pcx)

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libvexa_core.so' | head -n1)")
test -f "$prefix/share/man/man1/vexa.1"
test -f "$prefix/include/vexa/core/bitmap.h"

# The reference: the installed tool.
"$prefix/bin/vexa" proc "$image" "$work/ref.bmp" negative >/dev/null
"$prefix/bin/vexa" proc "$image" "$work/ref.tif" negative >/dev/null

# CMake: find_package(Vexa 0.2 CONFIG REQUIRED COMPONENTS core ui).
if [ -f "$libdir/libvexarun.so" ]; then
  cmake -S tests/install/cmake -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/cmake" >/dev/null
  QT_QPA_PLATFORM=offscreen "$work/cmake/negative" "$image" "$work/cmake.tif"
  cmp "$work/ref.tif" "$work/cmake.tif"
  echo "check_install: CMake package consumer OK"
fi

# pkg-config, with the core library alone.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
g++ -std=c++20 tests/install/pkgconfig/main.cpp -o "$work/negative-pc" \
  $(pkg-config --cflags --libs vexa-core) -Wl,-rpath,"$(pkg-config --variable=libdir vexa-core)"
"$work/negative-pc" "$image" "$work/pc.bmp"
cmp "$work/ref.bmp" "$work/pc.bmp"
if [ -f "$libdir/pkgconfig/vexa-ui.pc" ]; then
  pkg-config --exists --print-errors "vexa-ui >= 0.2"
fi
echo "check_install: pkg-config consumer OK"

# The installed image-format plug-in, found by a plain Qt program.
plugins=$(dirname "$(dirname "$(find "$prefix" -name 'libqvexa.so' | head -n1)")")
if [ -x "$build/tests/qimageread" ] && [ -d "$plugins" ]; then
  QT_PLUGIN_PATH="$plugins" "$build/tests/qimageread" "$image" | grep -q "^pcx 27x27 "
  echo "check_install: installed image-format plug-in OK"
fi
