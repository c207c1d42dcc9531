#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vexa Studio. Without a display it
# renders the studio's window to a PNG instead and says where it went.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
studio=./build/default/apps/vexa-studio/vexa-studio
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$studio" "$@"
fi
shot="$PWD/build/default/vexa-studio.png"
QT_QPA_PLATFORM=offscreen "$studio" "$@" --screenshot "$shot"
echo "No display found: Vexa Studio's window was rendered to $shot"
