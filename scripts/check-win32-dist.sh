#!/usr/bin/env bash
# Builds the Win32 ZIP, unpacks it elsewhere, builds a C host against the unpacked files alone
# with MinGW and runs it under Wine; checks that the MSVC import library names the 30 decorated
# stdcall symbols.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/win32}
ZIP=$(bash scripts/win32-dist.sh "$BUILD")
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
unzip -q "$ZIP" -d "$SCRATCH"
DIST=$(echo "$SCRATCH"/zk_mint-*-win32)
i686-w64-mingw32-gcc -std=c99 -Wall tests/consumer/consumer.c -I"$DIST/include" -L"$DIST/lib" -lzk_mint \
    -o "$DIST/bin/consumer.exe"
WINEDEBUG=-all wine "$DIST/bin/consumer.exe"
symbols=$(llvm-nm "$DIST/lib/zk_mint.lib" 2>/dev/null | grep -c ' T _[A-Za-z]*@[0-9]*$' || true)
[ "$symbols" -eq 30 ] || { echo "check-win32-dist: zk_mint.lib has $symbols decorated symbols" >&2; exit 1; }
WINEDEBUG=-all wine "$DIST/bin/zkmint.exe" --version
echo "check-win32-dist: $(basename "$ZIP") builds and runs a host"
