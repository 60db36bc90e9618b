#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the helper need.
# Idempotent: only what is missing is installed, and the package lists are refreshed only
# when something has to be installed.
set -euo pipefail

packages=(
  # Build tools.
  g++ cmake ninja-build pkg-config binutils
  # Libraries of the helper.
  libical-dev libicu-dev nlohmann-json3-dev libglib2.0-dev libplist-dev libmount-dev libsoup-3.0-dev
  # Text recognition: the engine with its two default languages, image decoders, PDF pages.
  libtesseract-dev tesseract-ocr-eng tesseract-ocr-chi-sim libleptonica-dev libwebp-dev libheif-dev
  libexif-dev libpoppler-glib-dev libcairo2-dev
  # File icons: GTK's icon theme lookup, the themes it reads, SVG icons; owner verification.
  libgtk-3-dev adwaita-icon-theme hicolor-icon-theme librsvg2-common libpolkit-gobject-1-dev
  # Tests and benchmarks.
  googletest libgtest-dev jq python3 python3-icalendar python3-vobject khal todoman khard
  # A private system bus with polkit's daemon for the owner verification tests.
  dbus-daemon dbus-bin polkitd
  # Text pictures and pages drawn by the OCR tests and benchmark, and its peer.
  libpango1.0-dev fonts-dejavu-core fonts-wqy-microhei tesseract-ocr
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
