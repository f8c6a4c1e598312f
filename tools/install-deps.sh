#!/usr/bin/env bash
# Installs what the build and the suites need, once: Debian packages only.
set -euo pipefail

packages=(
  cmake ninja-build g++ binutils
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  openjdk-17-jdk-headless
  googletest libgtest-dev libgmock-dev
  wine wine64 xvfb xauth
  debootstrap
  python3 libmp3lame0
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
  libyuv-dev
  python3 faketime
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# 32-bit Wine cannot run on this machine and would take over the wine wrapper: keep it out.
if dpkg-query -W -f='${Status}' wine32 2>/dev/null | grep -q "install ok installed"; then
  echo "warning: wine32 is installed; remove it, or every Wine suite fails" >&2
fi
