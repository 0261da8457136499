#!/usr/bin/env bash
# Runs two lumaqc programs on the same inputs and options and compares every
# output byte for byte: console (processor timings masked), error stream, exit
# status, the log and every report file. For checking that a change of the
# code leaves the outputs alone.
# Usage: scripts/compare-outputs.sh OLD_LUMAQC NEW_LUMAQC [SAMPLE_MAKER]
set -uo pipefail
old=$(realpath "$1"); new=$(realpath "$2")
maker=$(realpath "${3:-$(dirname "$2")/makeSampleClip}")
work=$(mktemp -d)
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT; echo "work: $work" >&2
clips=$work/clips; mkdir -p "$clips"
"$maker" "$clips/s.yuv" >/dev/null
"$maker" "$clips/odd.yuv" 301 263 30 >/dev/null
"$maker" "$clips/vga.yuv" 640 480 40 >/dev/null
ff="ffmpeg -nostdin -loglevel error -y"
$ff -f rawvideo -pix_fmt yuv420p -s 352x288 -r 25 -i "$clips/s.yuv" -pix_fmt yuv420p10le -f yuv4mpegpipe -strict -1 "$clips/s10.y4m"
$ff -f rawvideo -pix_fmt yuv420p -s 352x288 -r 25 -i "$clips/s.yuv" -c:v libx264 -bf 3 -g 12 "$clips/s.mp4"
$ff -f rawvideo -pix_fmt yuv420p -s 640x480 -r 30 -i "$clips/vga.yuv" -c:v ffv1 "$clips/vga.mkv"

cases=(
  "s.yuv 352 288"
  "s.yuv 352 288 --threads 1"
  "s.yuv 352 288 --threads 3"
  "s.yuv 352 288 --reference --threads 1"
  "s.yuv 352 288 50 20 10"
  "--start 7 --frames 30 s.yuv 352 288"
  "s.yuv 352 288 --json r.json --csv r.csv --events --summary"
  "s.yuv 352 288 --html r.html --quiet"
  "s.yuv 352 288 --quiet --json - --fail-if 'freeze.longest>=0.1'"
  "s.yuv 352 288 --run-start 0 --start 9 --frames 20"
  "odd.yuv 301 263 --json r.json --csv r.csv --threads 2"
  "vga.yuv 640 480 --events --min-freeze 0 --interlace-threshold 0.05"
  "s10.y4m --json r.json"
  "s.mp4 --json r.json --csv r.csv --threads 2"
  "s.mp4 --start 5 --frames 12"
  "vga.mkv --summary"
  "missing.yuv 352 288"
  "s.yuv 0 288"
  "s.yuv 352 288 --frames x"
  "s.yuv 352 288 --unknown"
  "--help"
  "s.yuv vga.yuv --size 352x288 --json-dir j --csv-dir c"
  "s.mp4 vga.mkv s10.y4m --json-dir j --threads 2"
)
run() {  # program outdir case
  local dir=$2
  mkdir -p "$dir/j" "$dir/c"; cp -s "$clips"/* "$dir"/
  (cd "$dir" && eval "\"$1\" $3" >stdout.txt 2>stderr.txt; echo $? >status.txt)
  # processor timings differ from run to run
  find "$dir" -type l -delete
  sed -i -E 's/[0-9]+\.[0-9]+ (seconds|milliseconds|ms)/T \1/g' "$dir/stdout.txt" "$dir/stderr.txt"
  find "$dir" -type f -exec sed -i "s#$dir#DIR#g" {} +
  sed -i -E "s#$(dirname "$1")/##g; s#$1#lumaqc#g" "$dir/stdout.txt" "$dir/stderr.txt"
  find "$dir" -type l -delete
}
failed=0
for i in "${!cases[@]}"; do
  c=${cases[$i]}
  run "$old" "$work/old/$i" "$c"
  run "$new" "$work/new/$i" "$c"
  if diff -r "$work/old/$i" "$work/new/$i" >"$work/diff.txt"; then
    echo "same: $c  [exit $(cat "$work/new/$i/status.txt"); $(cd "$work/new/$i" && find . -type f ! -name "*.txt" | sort | tr "\n" " ")]"
  else
    echo "DIFFERENT: $c"; head -20 "$work/diff.txt"; failed=1
  fi
done
exit $failed
