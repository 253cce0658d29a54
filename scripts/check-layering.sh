#!/bin/bash
# The library's layers, checked from its sources and from the objects of a native build tree:
#  - mutable storage that lives for the process is kept only by the exports, which hand what
#    the code below needs down to it;
#  - platform/ includes nothing above it;
#  - no two files of the library use each other in a loop (a file is its .h and .cpp).
# Usage: scripts/check-layering.sh [BUILD_TREE]   (default build/native; the library built)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
src="$root/qm_url/src"
tree=${1:-$root/build/native}
objects="$tree/qm_url/CMakeFiles/qm_url_core.dir/src"
status=0
fail() { echo "layering: $*" >&2; status=1; }

# Storage made once and never changed afterwards, which any code may read.
readonly kMadeOnce='ClientContext()::context'  # the TLS trust store, loaded on first use

[ -d "$objects" ] || { echo "layering: no objects in $objects: build the library first" >&2; exit 2; }
exports=$(grep -l 'extern "C" QM_API' "$src"/*.cpp "$src"/platform/*.cpp | xargs -n1 basename)
kept=$(find "$objects" -name '*.o' | sort | while read -r object; do
  name=$(basename "$object" .o)
  relative=${object#"$objects"/}
  [ -e "$src/${relative%.o}" ] || continue  # left from a source since removed
  echo "$exports" | grep -qx "$name" && continue
  objdump -t -C "$object" |
    awk -v file="$name" '/ O / && /\.(bss|data|tbss|tdata)/ && !/rel\.ro|DW\.ref|guard variable/ {
      sub(/^.*\t[0-9a-f]+ +/, ""); print "  " file ": " $0 }' |
    grep -vF "$kMadeOnce"
done)
[ -z "$kept" ] || fail "files below the exports keep storage of their own:"$'\n'"$kept"

# platform/ includes only platform/ (and the system's headers).
above=$(grep -Hn '#include "' "$src"/platform/* | grep -v '#include "platform/' | sed "s|$src/|  |")
[ -z "$above" ] || fail "platform/ includes from above it:"$'\n'"$above"

# Who includes whom, file by file; tsort finds a loop.
edges=$(cd "$src" && for f in *.h *.cpp platform/*.h platform/*.cpp; do
  from=$(basename "${f%.*}")
  grep -o '#include "[^"]*"' "$f" | sed 's/#include "\(.*\)"/\1/' | while read -r inc; do
    [ -e "$inc" ] || continue  # the public header and the system's
    to=$(basename "${inc%.*}")
    [ "$to" != "$from" ] && echo "$from $to"
  done
done | sort -u)
if ! loops=$(echo "$edges" | tsort 2>&1 >/dev/null) || [ -n "$loops" ]; then
  fail "files that use each other in a loop:"
  echo "$loops" | grep -v 'input contains a loop' | sed 's/^tsort: /  /' >&2
fi

[ $status -eq 0 ] && echo "layering: exports keep the state, platform/ stands alone, no loops"
exit $status
