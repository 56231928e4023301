#!/usr/bin/env bash
# Builds the Debian packages (sentrel, libsentrel0, libsentrel-dev) from a
# copy of this tree, checks them with lintian, installs them on this
# machine and tries them: sentrel --version, the
# demo machine's health from the installed files, and the embedding
# example built against the installed libsentrel-dev (scripts/check-embed.sh).
#
#   scripts/package.sh            packages in build/packages/
# Environment: PACKAGE_JOBS (default 2) parallel compile jobs. The package
# build compiles the library once more, without tests or benchmarks
# (DEB_BUILD_OPTIONS=nocheck); ccache is used, with the user's cache, when
# it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
out="build/packages"
jobs="${PACKAGE_JOBS:-2}"

bash scripts/install-deps.sh build package

# The source as git sees it (tracked and new files, ignored ones left out),
# so a stale build folder never enters the package.
version="$(dpkg-parsechangelog -S Version)"
src="$out/sentrel-$version"
rm -rf "$out"
mkdir -p "$src"
git ls-files -z --cached --others --exclude-standard | xargs -0 -I{} cp --parents {} "$src/" 2>/dev/null ||
  { echo "package: copying the source failed" >&2; exit 1; }

# Build dependencies named in debian/control that are still missing.
missing="$(cd "$src" && dpkg-checkbuilddeps -Pnocheck 2>&1 | sed -n 's/.*Unmet build dependencies: //p' |
  sed -E 's/\([^)]*\)//g; s/<[^>]*>//g; s/\|[^ ]*//g')"
[ -z "$missing" ] || bash scripts/install-deps.sh $missing

echo "package: building in $src"
started=$(date +%s)
# debhelper gives the build a HOME of its own, so ccache is told where its
# cache is: with the cache of earlier builds the package build compiles
# only what changed.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$PWD/$src"
  CCACHE_DIR="${CCACHE_DIR:-$(ccache -k cache_dir)}"
  export CCACHE_DIR
fi
(cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=$jobs" dpkg-buildpackage -us -uc -b -Pnocheck) \
  >"$out/build.log" 2>&1 || { tail -n 40 "$out/build.log" >&2; exit 1; }
echo "package: built in $(( $(date +%s) - started ))s:"
ls "$out"/*.deb | sed 's|^|  |'

echo "package: lintian"
lintian --fail-on error "$out"/sentrel_"$version"_*.changes | tee "$out/lintian.log"

echo "package: installing"
apt_get="apt-get"
[ "$(id -u)" -eq 0 ] || apt_get="sudo apt-get"
DEBIAN_FRONTEND=noninteractive $apt_get install -y -qq --no-install-recommends \
  "./$out/sentrel_${version}_"*.deb "./$out/libsentrel0_${version}_"*.deb \
  "./$out/libsentrel-dev_${version}_"*.deb >/dev/null

echo "package: trying the installed sentrel"
/usr/bin/sentrel --version
# The demo's disk0 warns, and has errors and a failed test in its logs:
# exit status 16 | 64 | 128.
status=0
/usr/bin/sentrel --offline --sim /usr/share/sentrel/demo-mac health disk0 --no-pace \
  >"$out/demo-health.txt" || status=$?
head -n 3 "$out/demo-health.txt"
[ "$status" -eq 208 ] && grep -q "^Verdict: Warning" "$out/demo-health.txt" ||
  { echo "package: the installed sentrel's health of the demo's disk0 is wrong (status $status)" >&2; exit 1; }
man -w sentrel
bash -c 'source /usr/share/bash-completion/completions/sentrel
  COMP_WORDS=(sentrel he); COMP_CWORD=1; _sentrel; [ "${COMPREPLY[*]}" = health ]' ||
  { echo "package: bash completion of \"sentrel he\" is not \"health\"" >&2; exit 1; }

bash scripts/check-embed.sh /usr
echo "package: done"
