#!/usr/bin/env bash
# Makes the Win32 distribution ZIP from a Win32 build (default build/win32): the DLL, its .def,
# import libraries for MinGW and MSVC, the header, zkmint.exe and README-win32.md. Prints the
# ZIP's path.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/win32}
VERSION=$(sed -n 's/^project(zk_mint VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
NAME=zk_mint-$VERSION-win32
STAGE=$BUILD/dist/$NAME
rm -rf "$STAGE" "$BUILD/dist/$NAME.zip"
mkdir -p "$STAGE/bin" "$STAGE/include" "$STAGE/lib"
cp "$BUILD/zk_mint.dll" "$BUILD/zkmint.exe" "$STAGE/bin/"
cp include/zk_mint.h "$STAGE/include/"
cp src/zk_mint.def "$STAGE/lib/"
cp dist/README-win32.md "$STAGE/"

# The stdcall names with their argument sizes, as the compiled exports carry them: the import
# libraries map each decorated name to the undecorated export (-k).
decorated=$BUILD/dist/zk_mint-decorated.def
{ echo "LIBRARY zk_mint.dll"; echo "EXPORTS"
  i686-w64-mingw32-nm "$BUILD/src/CMakeFiles/zk_core.dir/exports.cpp.obj" |
    awk '$2 == "T" && $3 ~ /^_[A-Za-z]+@[0-9]+$/ {print "    " substr($3, 2)}'
} > "$decorated"
count=$(grep -c '@' "$decorated")
[ "$count" -eq 30 ] || { echo "win32-dist: found $count decorated exports, not 30" >&2; exit 1; }
i686-w64-mingw32-dlltool -k -d "$decorated" -D zk_mint.dll -l "$STAGE/lib/libzk_mint.dll.a"
llvm-dlltool -m i386 -k -d "$decorated" -D zk_mint.dll -l "$STAGE/lib/zk_mint.lib"

(cd "$BUILD/dist" && zip -qr "$NAME.zip" "$NAME")
echo "$BUILD/dist/$NAME.zip"
