#!/usr/bin/env bash
# The library exports exactly the 30 names of the public header, undecorated.
set -euo pipefail
BUILD=${1:?build directory}
cd "$(dirname "$0")/.."
expected=$(grep -o 'ZK_STDCALL [A-Za-z]*(' include/zk_mint.h | sed 's/ZK_STDCALL //;s/(//' | sort)
if [ -f "$BUILD/zk_mint.dll" ]; then
  actual=$(i686-w64-mingw32-objdump -p "$BUILD/zk_mint.dll" |
           sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -o '[A-Za-z_@0-9]*$' | grep -v Table | sort)
else
  actual=$(nm -D --defined-only "$BUILD/libzk_mint.so" | awk '$2 ~ /^[TtWi]$/ {print $3}' | sort)
fi
if [ "$expected" != "$actual" ]; then
  echo "export table differs from the public header:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
echo "exports: $(echo "$actual" | wc -l) names, as declared"
