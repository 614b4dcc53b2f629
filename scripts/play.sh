#!/usr/bin/env bash
# Installs what is needed, builds the player and plays the demo in the
# calling folder ("nga.out" is written there); exits with the player's status.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build-release"

bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target quillon

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # Headless: no audio device to open, so SDL's silent driver from the start.
  export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
fi
exec "$build/quillon"
