#!/usr/bin/env bash
# Fresh machine to a running demo: install, build, run `zkmint demo` over every working engine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK_BUILD_TESTS=OFF
ninja -C build/linux zkmint zk_mint
./build/linux/zkmint demo "$@"
