#!/bin/bash
# Configures, builds and runs every test under Wine. HK_PRESET names another
# preset (CI uses "ci": warnings as errors, in build-ci/).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${HK_PRESET:-default}
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
