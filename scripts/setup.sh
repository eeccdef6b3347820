#!/usr/bin/env bash
# Installs what Kestrin needs to build, run and test on Debian 12, then
# configures and builds the given preset (default: dev).
# Packages already present are skipped, so a second run takes seconds.
set -euo pipefail

PACKAGES=(
  build-essential cmake make pkg-config
  qtbase5-dev libqt5svg5-dev
  libopencv-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  ffmpeg
  xvfb xauth x11-utils
  fonts-dejavu-core fontconfig
  dpkg-dev fakeroot lintian desktop-file-utils appstream
  parallel slurm-wlm munge
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  # Another apt or dpkg (an unattended upgrade) may hold the lock: wait for it.
  wait_lock=(-o DPkg::Lock::Timeout=600)
  $sudo apt-get "${wait_lock[@]}" update -q
  $sudo apt-get "${wait_lock[@]}" install -y -q --no-install-recommends "${missing[@]}"
fi

if [ "${1:-}" = "--packages-only" ]; then exit 0; fi

preset="${1:-dev}"
cd "$(dirname "$0")/.."
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
