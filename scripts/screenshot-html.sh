#!/usr/bin/env bash
# Takes a picture of a page (an HTML report of lumaqc) with headless Chromium,
# which scripts/install-deps.sh installs.
# Usage: scripts/screenshot-html.sh REPORT.html OUT.png [WIDTH HEIGHT]   (default 1280 x 2400)
set -euo pipefail
if [ $# -ne 2 ] && [ $# -ne 4 ]; then
  echo "usage: $0 REPORT.html OUT.png [WIDTH HEIGHT]" >&2
  exit 2
fi
page=$(realpath "$1")
out=$(realpath "$2")
[ -f "$page" ] || { echo "$0: no such page: $1" >&2; exit 1; }
command -v chromium >/dev/null 2>&1 || { echo "$0: chromium is not installed (scripts/install-deps.sh)" >&2; exit 1; }
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
sandbox=()
[ "$(id -u)" -ne 0 ] || sandbox=(--no-sandbox)  # Chromium refuses to run as root with its sandbox
rm -f "$out"
chromium --headless "${sandbox[@]}" --disable-gpu --disable-quic --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --user-data-dir="$profile" --hide-scrollbars \
  --window-size="${3:-1280},${4:-2400}" --screenshot="$out" "file://$page" 2>/dev/null >/dev/null
[ -s "$out" ] || { echo "$0: chromium wrote no picture" >&2; exit 1; }
echo "$out"
