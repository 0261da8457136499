#!/usr/bin/env bash
# Installs what the build needs on a Debian machine, only where it is missing.
# Usage: scripts/install-deps.sh [--bench]   (--bench also installs ffmpeg for bench/compare.sh)
set -euo pipefail

packages=()
command -v cmake >/dev/null 2>&1 || packages+=(cmake)
command -v g++ >/dev/null 2>&1 || packages+=(g++)
command -v make >/dev/null 2>&1 || packages+=(make)
[ -f /usr/include/gtest/gtest.h ] || packages+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || packages+=(libbenchmark-dev)
[ -f /usr/include/nlohmann/json.hpp ] || packages+=(nlohmann-json3-dev)
# The Python module: built for Debian's interpreter, whose modules these are.
[ -x /usr/bin/python3 ] || packages+=(python3)
ls /usr/include/python3*/Python.h >/dev/null 2>&1 || packages+=(python3-dev)
[ -f /usr/include/pybind11/pybind11.h ] || packages+=(pybind11-dev)
[ -d /usr/lib/python3/dist-packages/pybind11 ] || packages+=(python3-pybind11)
[ -d /usr/lib/python3/dist-packages/numpy ] || packages+=(python3-numpy)
[ -d /usr/lib/python3/dist-packages/pytest ] || packages+=(python3-pytest)
[ -d /usr/lib/python3/dist-packages/pandas ] || packages+=(python3-pandas)
if [ "${1:-}" = "--bench" ]; then
  command -v ffmpeg >/dev/null 2>&1 || packages+=(ffmpeg)
  command -v python3 >/dev/null 2>&1 || packages+=(python3)
fi

if [ ${#packages[@]} -gt 0 ]; then
  echo "Installing: ${packages[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${packages[@]}"
fi
