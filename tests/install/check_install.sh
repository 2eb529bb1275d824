#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and builds a small C host against it twice:
# with CMake's find_package and with pkg-config. Both hosts must run.
# Usage: check_install.sh BUILD_DIR WORK_DIR LIBDIR C_COMPILER "EXTRA_C_FLAGS"
set -euo pipefail
build=$1 work=$2 libdir=$3 cc=$4 extra=${5:-}
consumer=$(cd "$(dirname "$0")" && pwd)/consumer
prefix=$work/prefix

rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$prefix" > "$work/install.log"

for f in include/kesto/video_client.h \
         "$libdir/libKestoVideoClient.so" \
         "$libdir/libCorvexa.Kesto.VideoDecoderFF.so" \
         "$libdir/cmake/KestoVideoClient/KestoVideoClientConfig.cmake" \
         "$libdir/pkgconfig/kesto-video-client.pc"; do
  [ -e "$prefix/$f" ] || { echo "missing in the prefix: $f"; exit 1; }
done

echo "== find_package"
cmake -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$extra" -DCMAKE_EXE_LINKER_FLAGS="$extra" \
  > "$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/cmake-build"
"$work/cmake-build/consumer"

echo "== pkg-config"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs kesto-video-client)
echo "pkg-config: $flags"
# shellcheck disable=SC2086
"$cc" -std=c11 -Wall -Wextra -Werror $extra "$consumer/consumer.c" $flags -o "$work/pc-consumer"
LD_LIBRARY_PATH="$prefix/$libdir" "$work/pc-consumer"
echo "install check passed"
