#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the program use. Idempotent; prints
# nothing when everything is already there.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  clang libclang-rt-14-dev          # libFuzzer builds of the fuzz targets
  libgtest-dev googletest
  ffmpeg                             # reference decoder and sample encoder for tests
  libsdl2-dev                        # audio device
  qt6-base-dev libgl-dev             # the window
  libjpeg62-turbo-dev                # capture to JPEG
  libsqlite3-dev                     # MBTiles files for the map
  libfreetype-dev libfontconfig-dev  # the overlay text
  python3                            # test helpers read JSON with it
  fonts-liberation2                  # metric-compatible Arial
  xvfb xauth                         # screenshots of the window
  pngquant                           # small palette PNGs for the README (tools/make-screenshots.sh)
  cups printer-driver-cups-pdf       # the print tests' private PDF queue (tools/print-queue.sh)
  poppler-utils                      # reading the printed PDF back in the print tests
  qt6-svg-dev                        # renders the icon's PNG sizes at build time
  dpkg-dev file                      # cpack -G DEB (dpkg-shlibdeps) and the package test
  desktop-file-utils appstream groff-base  # the install test's validators and manual-page check
  clang-format-14                    # the one clang-format version tools/format-check.sh uses
  libsqlite3-dev                     # the catalogue of recordings already read
)
missing=()
for p in "${packages[@]}"; do
  [[ $p == \#* ]] && continue
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
