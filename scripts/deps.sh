#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing. The one list
# of them: the run and test commands both call this, and docs/packages.md names them.
set -euo pipefail
PACKAGES=(
  # build
  cmake g++ pkg-config qtbase5-dev qtbase5-private-dev libqt5svg5-dev libhidapi-dev libxcb1-dev zlib1g-dev
  # fonts: Agave goes beside the executable; the others draw Chinese and proportional texts
  fonts-agave fonts-dejavu-core fonts-dejavu-extra fonts-wqy-microhei fonts-liberation2
  # end-to-end tests and screenshots on an X server of their own
  xvfb xauth xdotool imagemagick
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
