#!/usr/bin/env bash
# Regenerates docs/engines.md from what the built library announces (build/linux by default).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/linux}
ninja -C "$BUILD" zkmint
"$BUILD/zkmint" describe --format markdown > docs/engines.md
echo "docs/engines.md: $(grep -c '^## ' docs/engines.md) engine types"
