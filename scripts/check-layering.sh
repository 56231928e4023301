#!/usr/bin/env bash
# Checks the layering that the linker cannot see:
#   - the command line includes only the library's public headers
#     (sentrel/...) and its own (cli.h), never a private header of src/;
#   - the files of the core layer (pure decoders and parsers, listed as
#     sentrel_core sources in the src/*/CMakeLists.txt) include no platform
#     header, so they cannot even name the platform.
# The build checks the rest: each layer is linked alone with --no-undefined
# (SENTREL_CHECK_LAYERING), so a decoder that calls the platform, or a
# simulated machine that calls the Linux backend, fails to link.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0

# A public header (include/sentrel/...) or one of cli/'s own (cli.h,
# http/http_server.h, ...).
bad=""
while IFS= read -r line; do
  header=$(echo "$line" | sed -E 's/.*#include "([^"]+)".*/\1/')
  case "$header" in
    sentrel/*) [ -f "include/$header" ] && continue ;;
    *) [ -f "cli/$header" ] && continue ;;
  esac
  bad+="$line"$'\n'
done < <(grep -nE '^#include "' cli/*.cc cli/*.h cli/http/*)
if [ -n "$bad" ]; then
  echo "check-layering: cli/ includes headers that are not public:" >&2
  echo "$bad" >&2
  status=1
fi

core_files=$(python3 - <<'PY'
import pathlib, re
out = []
for lists in sorted(pathlib.Path("src").glob("*/CMakeLists.txt")):
    for block in re.findall(r"target_sources\(sentrel_core PRIVATE(.*?)\)", lists.read_text(), re.S):
        for name in block.split():
            out.append(str(lists.parent / name))
print("\n".join(out))
PY
)
[ -n "$core_files" ] || { echo "check-layering: found no core sources" >&2; exit 1; }
for f in $core_files; do
  header="${f%.cc}.h"
  for file in "$f" $( [ -f "$header" ] && echo "$header" ); do
    hits=$(grep -nE '^#include "(sentrel/platform(_wrapper)?\.h|sentrel/(smart_device|sim_machine|sim_capture|linux_platform)\.h|platform/)' "$file" || true)
    if [ -n "$hits" ]; then
      echo "check-layering: $file is in the core layer but includes a platform header:" >&2
      echo "$hits" | sed "s|^|  $file:|" >&2
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "check-layering: cli/ uses public headers only; $(echo "$core_files" | wc -l) core files name no platform"
exit $status
