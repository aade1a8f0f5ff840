#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail
. "$(dirname "$0")/lib/apt.sh"

packages=(
  cmake ninja-build make python3 git ccache gcc
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  googletest
  clang libclang-rt-14-dev
  wine wine32:i386 wine64 fonts-wine
  qemu-user-static
  libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386 libxinerama1:i386 libxcomposite1:i386 libxfixes3:i386
  xvfb xdotool x11-utils imagemagick
  pulseaudio pulseaudio-utils
  sox libsox-fmt-all lame vorbis-tools mpg123
)

bash "$(dirname "$0")/fetch-vorbis-sources.sh"
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${apt_sudo[@]}" dpkg --add-architecture i386
fi
apt_update
apt_install "${missing[@]}"
echo "install-deps: done"
