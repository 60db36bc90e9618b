#!/usr/bin/env bash
# Fails when the executable names one of the desktop libraries among the shared libraries the
# dynamic loader must load at its start: those belong to the desktop module, loaded on first use.
set -euo pipefail
needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
desktop=$(grep -E '^lib(tesseract|lept|webp|heif|exif|poppler|cairo|gtk|gdk|polkit|soup|curl|gnutls|nss)' <<<"$needed" || true)
if [[ -n "$desktop" ]]; then
  echo "$1 needs desktop libraries at start:" $desktop >&2
  exit 1
fi
echo "$1 needs:" $needed
