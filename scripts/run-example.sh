#!/usr/bin/env bash
# Installs what is missing, builds the helper, and runs it on the bundled example requests
# against a copy of the bundled example data (the real home folder is never touched).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --parallel "$(nproc)" --target wren-mac-helper

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/.local/share"
cp -r examples/data "$home/.local/share/wren"

echo "Requests (examples/requests.jsonl) and replies:"
HOME="$home" XDG_DATA_HOME="$home/.local/share" TZ="${TZ:-Asia/Shanghai}" \
  build/wren-mac-helper < examples/requests.jsonl | while IFS= read -r reply; do
    printf '%s\n' "$reply"
  done
