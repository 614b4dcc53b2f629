#!/usr/bin/env bash
# Installs every Debian package that building, testing and fuzzing need.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  g++ cmake make ninja-build pkg-config
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libdivsufsort-dev libbz2-dev
  libsdl2-dev libgtk-3-dev
  libegl-dev libopengl-dev libgl-dev libgl1-mesa-dri libegl-mesa0
  xvfb xauth x11-utils imagemagick
  glslang-dev glslang-tools spirv-tools libspirv-cross-c-shared-dev
  libjpeg62-turbo-dev
  libgoogle-perftools-dev
  libglm-dev
  libmeshoptimizer-dev
  libvorbis-dev libogg-dev sox vorbis-tools
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
  # Object-file reader: the third-party models and reader its tests and
  # benchmark compare against.
  assimp-testmodels assimp-utils libassimp-dev
  # The player's end-to-end runs press keys in a real window.
  xdotool
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
