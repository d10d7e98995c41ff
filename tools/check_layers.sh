#!/usr/bin/env bash
# The folders of src/ are layers, each including only itself and those
# below it.  Prints every include that reaches up (or sideways into a layer
# not below), and every pair of modules (a header with its source) that
# include each other, and fails when there is one.
#
#   tools/check_layers.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}/src"

# Bottom first.
layers=(base files xml transport message operations cli)

rank() {
  local i
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

status=0
for dir in */; do
  dir=${dir%/}
  own=$(rank "$dir")
  if [ "$own" -lt 0 ]; then
    echo "src/$dir: a folder that is no layer" >&2
    status=1
    continue
  fi
  while IFS=: read -r file _ target; do
    used=$(rank "$target")
    if [ "$used" -lt 0 ] || [ "$used" -gt "$own" ]; then
      echo "src/$file includes $target/, above $dir/" >&2
      status=1
    fi
  done < <(grep -o '^#include "[a-z_]*/' -r "$dir" --include='*.h' --include='*.cc' --include='*.in' |
           sed 's|#include "||; s|/$||' | awk -F: '{print $1 ":x:" $2}')
done

# Module A uses module B when A.h or A.cc includes B.h; no two modules use
# each other.
uses=$(grep -o '^#include "[a-z_]*/[a-z_]*\.h"' -r . --include='*.h' --include='*.cc' |
       sed -E 's|^\./([a-z_]+/[a-z_]+)\.(h\|cc):#include "([a-z_]+/[a-z_]+)\.h"|\1 \3|' |
       awk '$1 != $2' | sort -u)
while read -r from to; do
  [ -n "$from" ] || continue
  if [[ "$from" < "$to" ]] && grep -qx "$to $from" <<<"$uses"; then
    echo "src/$from and src/$to include each other" >&2
    status=1
  fi
done <<<"$uses"
[ "$status" -eq 0 ] && echo "layers: no include reaches up, no two modules include each other"
exit "$status"
