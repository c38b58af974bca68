#!/usr/bin/env bash
# Installs, on Debian 12, the packages that building and testing need, when missing.
# wine32 is never installed: 32-bit code cannot run on these machines, and with it present
# Debian's "wine" wrapper would pick the 32-bit loader. We call /usr/lib/wine/wine64 directly.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev          # host build and unit tests
  g++-mingw-w64-i686 g++-mingw-w64-x86-64     # the product and its 64-bit twin
  wine wine64 xvfb locales fonts-wine         # end-to-end runs of the twin (locales: localedef for ko_KR)
  imagemagick fonts-nanum                     # screenshots, Hangul on screen
  umockdev                                    # choosing the BIOS version Wine reports
  osslsigncode openssl                        # Authenticode signing (scripts/release.sh)
  python3-pefile                              # reading the product's hardening flags (product check)
  python3                                     # reading screenshots in the screen check
  x11-utils                                   # xev: when windows map (bench/run.sh)
  qemu-system-x86 mmdebstrap e2fsprogs        # the emulated 64-bit guest that runs the product
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
