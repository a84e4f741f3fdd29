#!/usr/bin/env bash
# Installs what is missing, builds, and opens the window.
# With arguments it runs corvane-cli with them instead.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install-deps.sh
scripts/build.sh >&2
if [ "$#" -gt 0 ]; then
    exec build/bin/corvane-cli "$@"
fi
exec build/bin/Corvane
