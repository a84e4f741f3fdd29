#!/usr/bin/env bash
# Configures and builds Corvane into build/ (programs land in build/bin/).
set -euo pipefail
cd "$(dirname "$0")/.."
extra=()
if [ "${CI:-}" = "true" ]; then extra+=(-DCORVANE_WARNINGS_AS_ERRORS=ON); fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
cmake --build build -j"$(nproc)"
