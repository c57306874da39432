#!/usr/bin/env bash
# Installs the Linux build into a scratch prefix and builds a user's host program against it, once
# with find_package(zk_mint) and once with pkg-config, then runs both.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/linux}
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
PREFIX=$SCRATCH/prefix

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
LIBDIR=$(dirname "$(find "$PREFIX" -name 'libzk_mint.so' | head -n1)")
for stand_in in libcrypt.dll ccom.dll; do
  if find "$PREFIX" -name "$stand_in" | grep -q .; then echo "check-consumer: $stand_in was installed" >&2; exit 1; fi
done

cmake -S tests/consumer -B "$SCRATCH/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$PREFIX" >/dev/null
ninja -C "$SCRATCH/cmake-build" >/dev/null
"$SCRATCH/cmake-build/consumer"

export PKG_CONFIG_PATH=$LIBDIR/pkgconfig
cc tests/consumer/consumer.c -o "$SCRATCH/pc-consumer" $(pkg-config --cflags --libs zk_mint) -Wl,-rpath,"$LIBDIR"
"$SCRATCH/pc-consumer"
readelf -d "$LIBDIR/libzk_mint.so" | grep -q 'SONAME.*libzk_mint.so.0' || { echo "check-consumer: no SONAME" >&2; exit 1; }
"$PREFIX/bin/zkmint" --version
"$PREFIX/bin/zkmint" engines | grep -q "Emulation/1.0.*available"  # finds ../lib/libzk_mint.so

# The demo folder, installed on request, lets the installed zkmint run its demo with the toolkits.
cmake --install "$BUILD" --prefix "$PREFIX" --component demo >/dev/null
"$PREFIX/bin/zkmint" demo > "$SCRATCH/demo.txt" || { cat "$SCRATCH/demo.txt" >&2; exit 1; }
grep -q "^Toolkits: $PREFIX/bin/zkmint-demo/" "$SCRATCH/demo.txt"
# Engine types the library does not build are not available anywhere; anything else means a toolkit
# was not found.
if grep "not available" "$SCRATCH/demo.txt" | grep -v "the library builds no" | grep -q .; then
  grep "not available" "$SCRATCH/demo.txt" >&2
  echo "check-consumer: the installed demo misses a toolkit" >&2
  exit 1
fi
echo "check-consumer: find_package and pkg-config consumers pass; the installed demo finds its toolkits"
