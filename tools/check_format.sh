#!/usr/bin/env bash
# The C++ sources keep the layout of .clang-format.  Prints the places that
# differ and fails when there is one.
#
#   tools/check_format.sh CLANG_FORMAT [SOURCE_DIR]
set -euo pipefail
clang_format=$1
cd "${2:-$(dirname "$0")/..}"
find src tools bench fuzz tests \( -name '*.cc' -o -name '*.h' \) -print0 |
  xargs -0 "$clang_format" --dry-run -Werror
