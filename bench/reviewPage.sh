#!/usr/bin/env bash
# Size and render time of the review page of a long run: a synthetic run of
# ROWS rows (default 1,080,000, six hours at 50 fps) with EVENTS events
# (default 100) with pictures, loaded in headless Chromium ROUNDS times
# (default 3). Prints the page's size, the page's own time from its script's
# start to the last plot drawn (renderMs), the browser's whole run (start,
# parse, draw, exit) beside its run on an empty page, and whether every plot
# was drawn without a script error.
# BUILD=dir uses the programs of that build folder rather than build-bench.
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${ROWS:-1080000}
events=${EVENTS:-100}
rounds=${ROUNDS:-3}
if [ -z "${BUILD:-}" ]; then
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF >/dev/null
  BUILD=build-bench
fi
cmake --build "$BUILD" -j2 --target reviewPageWriter lumaqc_libav >/dev/null
chromium=$(command -v chromium || command -v chromium-browser)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$BUILD/reviewPageWriter" "$work/page.html" "$rows" "$events"
printf 'rows %s, events %s: page %.2f MB\n' "$rows" "$events" "$(stat -c %s "$work/page.html" | awk '{ print $1 / 1e6 }')"

echo '<!DOCTYPE html><title>empty</title>' >"$work/empty.html"
for round in $(seq "$rounds"); do
  # The browser's own start and exit, on an empty page.
  start=$(date +%s.%N)
  timeout 300 "$chromium" --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$work/empty$round" --dump-dom \
    "file://$work/empty.html" >/dev/null 2>&1
  empty=$(echo "$(date +%s.%N) - $start" | bc)
  start=$(date +%s.%N)
  timeout 300 "$chromium" --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$work/profile$round" --dump-dom \
    "file://$work/page.html" >"$work/dom.html" 2>/dev/null
  end=$(date +%s.%N)
  status=$(sed -n '/id="lumaqc-render-status"/,/<\/pre>/p' "$work/dom.html")
  plots=$(printf '%s\n' "$status" | sed -n 's/.*plots \([0-9]*\)$/\1/p' | head -1)
  painted=$(printf '%s\n' "$status" | grep -c '^plot .* painted [1-9]' || true)
  errors=$(printf '%s\n' "$status" | grep -c '^error ' || true)
  render=$(printf '%s\n' "$status" | sed -n 's/^renderMs \([0-9]*\)$/\1/p')
  bucket=$(printf '%s\n' "$status" | sed -n 's/^bucket \([0-9]*\)$/\1/p')
  printf 'round %d: renderMs %s, browser run %.2f s (an empty page %.2f s), plots %s (drawn %s), bucket %s rows, script errors %s\n' \
    "$round" "$render" "$(echo "$end - $start" | bc)" "$empty" "$plots" "$painted" "$bucket" "$errors"
done
