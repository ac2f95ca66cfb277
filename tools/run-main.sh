#!/usr/bin/env bash
# Sets up, builds, converts the bundled sample voice folder into vud.pac with
# vudconv, then verifies and lists the result with vudinfo.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vudconv vudinfo GOGO.DLL
./build/vudconv -y samples/voice/ vud.pac
./build/vudinfo --verify vud.pac
