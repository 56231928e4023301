#!/usr/bin/env bash
# Installs the Debian packages Sentrel builds and tests with, or, given
# package names, those packages (the scripts of the other checks pass
# theirs). Safe to run again: it installs only what is missing.
set -euo pipefail

packages=("$@")
[ $# -gt 0 ] || packages=(
  cmake ninja-build g++ pkg-config
  nlohmann-json3-dev libcli11-dev libicu-dev libcurl4-openssl-dev libblkid-dev
  libgtest-dev libgmock-dev libbenchmark-dev python3-jsonschema
  smartmontools
  clang-tidy cppcheck
  clang libclang-rt-14-dev llvm
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
