#!/usr/bin/env bash
# The layers of src/, from the bottom:
#
#   0  threads/   locks, the safe point, pauses
#   1  object/    Values, memory, collector, symbols, thread state, arrays
#      diag/      dumps of what the object layer holds
#   2  eval/      the evaluator, errors, the listener; and the built-in
#                 table's interface (builtins/table.h, builtins/builtins.def)
#   3  builtins/  the families of built-ins
#      text/      reader, printer, strings, symbols, FORMAT
#      io/        streams, console, files, documentation store
#   4  image/     program entry, driver, image files
#   5  genesis/   the tool that makes the first image
#
# A file may include headers of its own layer and the layers below.  A
# lower layer that needs a service from above calls it through a hook that
# program entry registers (eval/hooks.h, the collector's status hook).
# Fails, naming each include that reaches upward.
# Usage: layering.sh [ignored...]  (CMake passes the kernel and its image)
set -u
src=$(cd "$(dirname "$0")/../../src" && pwd)

layer_of() {  # path relative to src/
  case $1 in
    threads/*) echo 0 ;;
    object/* | diag/*) echo 1 ;;
    builtins/table.h | builtins/builtins.def | eval/*) echo 2 ;;
    builtins/* | text/* | io/*) echo 3 ;;
    image/*) echo 4 ;;
    genesis/*) echo 5 ;;
    *) echo unknown ;;
  esac
}

bad=0
cd "$src" || exit 1
while IFS= read -r file; do
  from=$(layer_of "$file")
  if [ "$from" = unknown ]; then
    echo "layering: $file is in no layer (add its folder to tests/kernel/layering.sh)"
    bad=1
    continue
  fi
  while IFS= read -r inc; do
    to=$(layer_of "$inc")
    if [ "$to" = unknown ] || [ "$to" -gt "$from" ]; then
      echo "layering: $file (layer $from) includes $inc (layer $to)"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.def' \) | sed 's|^\./||' | sort)

if [ "$bad" -ne 0 ]; then
  echo "layering: FAILED"
  exit 1
fi
echo "layering: every include stays in its layer or below"
