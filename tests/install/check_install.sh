#!/usr/bin/env bash
# Builds a small C host twice against an installed package, with CMake's find_package and with
# pkg-config; both stream from the package's own simulator and must run. The package is either
# a build tree, installed into a temporary prefix, or a release tarball (scripts/package),
# unpacked into an empty one. The viewer's --version must agree with the header's macro.
# Usage: check_install.sh BUILD_DIR|TARBALL WORK_DIR LIBDIR C_COMPILER "EXTRA_C_FLAGS"
set -euo pipefail
from=$1 work=$2 libdir=$3 cc=$4 extra=${5:-}
consumer=$(cd "$(dirname "$0")" && pwd)/consumer
prefix=$work/prefix

rm -rf "$work"
mkdir -p "$prefix"
if [ -f "$from" ]; then
  tar -C "$prefix" --strip-components=1 -xzf "$from"
else
  cmake --install "$from" --prefix "$prefix" > "$work/install.log"
fi

for f in include/kesto/video_client.h include/kesto/video_client_version.h \
         "$libdir/libKestoVideoClient.so" \
         "$libdir/libCorvexa.Kesto.VideoDecoderFF.so" \
         "$libdir/cmake/KestoVideoClient/KestoVideoClientConfig.cmake" \
         "$libdir/cmake/KestoVideoClient/KestoVideoClientConfigVersion.cmake" \
         "$libdir/pkgconfig/kesto-video-client.pc" bin/kesto-camsim bin/kesto-viewer; do
  [ -e "$prefix/$f" ] || { echo "missing in the prefix: $f"; exit 1; }
done

version=$(sed -n 's/^#define KESTO_VERSION_STRING "\(.*\)"$/\1/p' \
          "$prefix/include/kesto/video_client_version.h")
viewer=$("$prefix/bin/kesto-viewer" --version)
[ "$viewer" = "kesto-viewer $version" ] || {
  echo "kesto-viewer --version says '$viewer', the header $version"; exit 1; }
pc_version=$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --modversion kesto-video-client)
[ "$pc_version" = "$version" ] || { echo "pkg-config says $pc_version, the header $version"; exit 1; }

"$prefix/bin/kesto-camsim" --port 0 --side 128 --quiet --seconds 120 > "$work/camsim.out" &
camsim=$!
trap 'kill $camsim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q '^listening on' "$work/camsim.out" && break
  sleep 0.1
done
uri=tcp://$(sed -n 's/^listening on //p' "$work/camsim.out")

echo "== find_package ($uri)"
cmake -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$extra" -DCMAKE_EXE_LINKER_FLAGS="$extra" \
  > "$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/cmake-build"
"$work/cmake-build/consumer" "$uri"

echo "== pkg-config"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs kesto-video-client)
echo "pkg-config: $flags"
# shellcheck disable=SC2086
"$cc" -std=c11 -Wall -Wextra -Werror $extra "$consumer/consumer.c" $flags -o "$work/pc-consumer"
LD_LIBRARY_PATH="$prefix/$libdir" "$work/pc-consumer" "$uri"
echo "install check passed: $version"
