#!/bin/bash
# Configures, builds and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default
cmake --build --preset default
ctest --preset default
