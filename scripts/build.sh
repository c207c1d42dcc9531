#!/usr/bin/env bash
# Configures and builds the default preset (Release, tests and benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
"./scripts/install-deps.sh"
cmake --preset default >/dev/null
cmake --build --preset default
