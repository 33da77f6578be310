#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and benchmark.
# Idempotent: does nothing when everything is already installed.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgoogle-glog-dev
  libboost-dev libboost-regex-dev
  libturbojpeg0-dev
  libzmq3-dev cppzmq-dev
  libnanomsg-dev
  libsodium-dev
  nlohmann-json3-dev
  libyuv-dev
  libgtest-dev libgmock-dev
  libbenchmark-dev
  libopencv-dev
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
