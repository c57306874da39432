#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12 (run as root, or with sudo).
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps.sh: installing packages needs root; run this as root (sudo is not installed)" >&2
    exit 1
  fi
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

packages=(build-essential cmake ninja-build pkg-config libssl-dev openssl libgtest-dev libgmock-dev
          libbenchmark-dev googletest libgcrypt20-dev libksba-dev libengine-gost-openssl)
if [ "${1:-}" = "--with-win32" ]; then
  $SUDO dpkg --add-architecture i386
  packages+=(g++-mingw-w64-i686 gcc-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686 wine wine32
             libgcrypt-mingw-w64-dev libksba-mingw-w64-dev llvm zip unzip)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
