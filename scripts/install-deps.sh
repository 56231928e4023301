#!/usr/bin/env bash
# Installs the Debian packages of one or more groups, or packages by name
# (anything that is not a group's name). Safe to run again: it installs
# only what is missing. Without arguments: the "build" group.
#
#   build    what building and running sentrel need
#   tests    GoogleTest, Google Benchmark, the JSON schema and metrics checkers (scripts/test.sh)
#   lint     clang-tidy and cppcheck (scripts/lint.sh)
#   fuzz     clang with libFuzzer (scripts/fuzz.sh)
#   package  the Debian packaging tools and the man page's scdoc (scripts/package.sh)
#
#   scripts/install-deps.sh --installed GROUP...   exit status 0 when all are there
set -euo pipefail

group_packages() {
  case "$1" in
    build) echo cmake ninja-build g++ pkg-config nlohmann-json3-dev libcli11-dev libicu-dev \
      libcurl4-openssl-dev libblkid-dev libcpp-httplib-dev smartmontools ;;
    tests) echo libgtest-dev libgmock-dev libbenchmark-dev python3-jsonschema python3-prometheus-client ;;
    lint) echo clang-tidy cppcheck ;;
    fuzz) echo clang libclang-rt-14-dev llvm ;;
    package) echo dpkg-dev debhelper lintian scdoc fakeroot ;;
    *) echo "$1" ;;
  esac
}

check_only=""
if [ "${1:-}" = "--installed" ]; then
  check_only=yes
  shift
fi
[ $# -gt 0 ] || set -- build
packages=()
for name in "$@"; do
  read -r -a members <<<"$(group_packages "$name")"
  packages+=("${members[@]}")
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ -n "$check_only" ]; then
  [ ${#missing[@]} -eq 0 ]
  exit
fi
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
