#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite three ways: the
# default build (warnings are errors), the core alone as on a machine without Qt,
# and everything under AddressSanitizer and UndefinedBehaviorSanitizer. The default
# build is also installed into a temporary prefix and built against (CMake package
# and pkg-config).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --preset default -j2
./scripts/check_install.sh build/default

cmake --preset noqt >/dev/null
cmake --build --preset noqt
ctest --preset noqt -j2

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -j2
