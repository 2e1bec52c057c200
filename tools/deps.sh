#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run, test, benchmark and fuzz,
# and to check the installation and the Debian package.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PKGS=(g++ cmake ninja-build
      qt6-base-dev qt6-qpa-plugins libqt6printsupport6
      libjpeg62-turbo-dev libpng-dev libgif-dev libtiff-dev libwebp-dev libavif-dev pkg-config
      libgtest-dev libgmock-dev libbenchmark-dev
      nginx tinyproxy curl wget libssl-dev ca-certificates openssl libidn2-dev
      clang libclang-rt-14-dev
      fonts-dejavu-core xvfb imagemagick python3-pil libgumbo-dev hyperfine
      poppler-utils webp libavif-bin libvips-tools qt6-translations-l10n
      apache2-doc strace wget2 aria2 llgal mate-backgrounds
      librsvg2-bin desktop-file-utils appstream man-db groff-base dpkg-dev file lintian)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
