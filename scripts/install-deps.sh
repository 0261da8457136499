#!/usr/bin/env bash
# Installs what the build needs on a Debian machine, only where it is missing.
# Usage: scripts/install-deps.sh [--bench] [--fuzz]
#   --bench also installs python3 for bench/compare.sh and bench/accuracy/ (which also needs the ffmpeg
#           command, installed always), and time (/usr/bin/time) for bench/startup.sh
#   --fuzz  also installs clang and its runtimes (libFuzzer, the sanitizers) for scripts/fuzz.sh
# It also installs the pinned browser library of the HTML report (report-assets/, npm ci) and
# Chromium, which the report's browser tests load pages in.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=()
command -v cmake >/dev/null 2>&1 || packages+=(cmake)
command -v g++ >/dev/null 2>&1 || packages+=(g++)
command -v make >/dev/null 2>&1 || packages+=(make)
[ -f /usr/include/gtest/gtest.h ] || packages+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || packages+=(libbenchmark-dev)
[ -f /usr/include/nlohmann/json.hpp ] || packages+=(nlohmann-json3-dev)
# Input readers: FFmpeg's libraries (found with pkg-config), and the ffmpeg
# command that the reader tests use to make clips.
command -v pkg-config >/dev/null 2>&1 || packages+=(pkg-config)
for lib in libavformat libavcodec libswscale libavutil; do
  [ -f "/usr/include/x86_64-linux-gnu/$lib/version.h" ] || [ -f "/usr/include/$lib/version.h" ] ||
    pkg-config --exists "$lib" 2>/dev/null || packages+=("$lib-dev")
done
command -v ffmpeg >/dev/null 2>&1 || packages+=(ffmpeg)
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
command -v chromium >/dev/null 2>&1 || packages+=(chromium)
command -v chromedriver >/dev/null 2>&1 || packages+=(chromium-driver)
# The Python module: built for Debian's interpreter, whose modules these are.
[ -x /usr/bin/python3 ] || packages+=(python3)
ls /usr/include/python3*/Python.h >/dev/null 2>&1 || packages+=(python3-dev)
[ -f /usr/include/pybind11/pybind11.h ] || packages+=(pybind11-dev)
[ -d /usr/lib/python3/dist-packages/pybind11 ] || packages+=(python3-pybind11)
[ -d /usr/lib/python3/dist-packages/numpy ] || packages+=(python3-numpy)
[ -d /usr/lib/python3/dist-packages/pytest ] || packages+=(python3-pytest)
[ -d /usr/lib/python3/dist-packages/pandas ] || packages+=(python3-pandas)
# lumaqc.cluster: Dask's distributed scheduler (dask-scheduler, dask-worker) for Debian's python3.
[ -d /usr/lib/python3/dist-packages/dask ] || packages+=(python3-dask)
[ -d /usr/lib/python3/dist-packages/distributed ] && command -v dask-scheduler >/dev/null 2>&1 &&
  command -v dask-worker >/dev/null 2>&1 || packages+=(python3-distributed)
for option in "$@"; do
  case "$option" in
    --bench)
      command -v python3 >/dev/null 2>&1 || packages+=(python3)
      [ -x /usr/bin/time ] || packages+=(time)
      ;;
    --fuzz)
      if ! command -v clang++ >/dev/null 2>&1; then
        packages+=(clang libclang-rt-dev)
      elif [ ! -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-$(uname -m).a" ]; then
        packages+=(libclang-rt-dev)
      fi
      ;;
    *) echo "install-deps.sh: unknown option $option" >&2; exit 2 ;;
  esac
done

if [ ${#packages[@]} -gt 0 ]; then
  echo "Installing: ${packages[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${packages[@]}"
fi

# The report's charting library, exactly as locked; installed again only when the lock changed.
assets=report-assets
if ! cmp -s "$assets/package-lock.json" "$assets/node_modules/.lumaqc-installed-lock"; then
  (cd "$assets" && npm ci --no-audit --no-fund --ignore-scripts)
  cp "$assets/package-lock.json" "$assets/node_modules/.lumaqc-installed-lock"
fi
