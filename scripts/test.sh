#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs the whole test suite.
# Usage (from the repository root, as root on a fresh Debian 12): bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset ci
cmake --build --preset ci
ctest --preset ci -j2 "$@"
