#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite three ways: the
# default build (warnings are errors), the core alone as on a machine without Qt,
# and everything under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --preset default -j2

cmake --preset noqt >/dev/null
cmake --build --preset noqt
ctest --preset noqt -j2

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -j2
