#!/usr/bin/env bash
# The built-ins and the fixed symbols are each named in one list
# (src/builtins/builtins.def, src/object/symbols.def); everything else
# refers to them by the constants made from those lists.  Fails, naming the
# place, when:
#   - a file installs a routine by number (bi_install) instead of a line of
#     builtins.def;
#   - a file keeps its own symbol numbers (SYM_x = 0x.., KW_x = .., kSym..);
#   - code or a test calls a built-in by a bare number;
#   - a Lisp name is bound by two lines of a list;
#   - doc/builtins-extra.md and builtins.def disagree on a number from 455
#     on (its Lisp name, kind or count), or one of them lacks it.
# Usage: tables.sh [ignored...]  (CMake passes the kernel and its image)
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root" || exit 1
bad=0
fail() {
  echo "tables: $*"
  bad=1
}

code_files=$(find src tests/unit -type f \( -name '*.cpp' -o -name '*.h' \) | sort)

# Installers and private numbers.
while IFS= read -r hit; do
  [ -n "$hit" ] && fail "$hit: installs a built-in by number; give it a line of src/builtins/builtins.def"
done < <(grep -nE '\bbi_install[a-z_]*\(' $code_files)
while IFS= read -r hit; do
  [ -n "$hit" ] && fail "$hit: a symbol number of its own; name it FS_ from src/object/symbols.def"
done < <(grep -nE '\b(SYM|KW|TS|FKW)_[A-Z0-9_]+ *= *(0x)?[0-9]|\bkSym[A-Za-z0-9_]* *=' $code_files |
  grep -vE '\bSYM_(ENTRY|FLAGS|NAME|VALUE|FUNCTION|PLIST) *=|\bkSymbol')  # the layout of a symbol's entry; kSymbol... are no numbers of symbols
while IFS= read -r hit; do
  [ -n "$hit" ] && fail "$hit: a built-in by bare number; use its BI_ constant"
done < <(grep -nE '\b(call|bi_value|make_builtin\([0-9], *)\( *[0-9]+ *[,)]|\bCall [a-z_]+\([0-9]+\)|zv_builtins\[[0-9]+\]' $code_files)

# Each Lisp name bound once.
dups=$(sed -n 's/^BI([^,]*,[^,]*, *\("[^"]*"\).*/\1/p' src/builtins/builtins.def | sort | uniq -d)
[ -n "$dups" ] && fail "builtins.def binds these names twice: $dups"
dups=$(sed -n 's/^FS([^,]*,[^,]*, *\("[^"]*"\).*/\1/p' src/object/symbols.def | sort | uniq -d)
[ -n "$dups" ] && fail "symbols.def names these twice: $dups"

# builtins.def and doc/builtins-extra.md agree from 455 on.
kind_number() {
  case $1 in SPECIAL) echo 0 ;; MACRO) echo 1 ;; FIXED) echo 2 ;; OPTREST) echo 3 ;; KEYS) echo 4 ;; *) echo "?" ;; esac
}
def_rows=$(sed -n 's/^BI( *\([0-9]*\), *[A-Z0-9_]*, *"\([^"]*\)", *\([A-Z]*\), *\([0-9]*\),.*/\1 \2 \3 \4/p' \
  src/builtins/builtins.def)
doc_rows=$(sed -n 's/^| *\([0-9][0-9]*\) *| *\([0-9]\)\/\([0-9]*\) *| *`\([^`]*\)`.*/\1 \4 \2 \3/p' doc/builtins-extra.md)
while read -r n name kind count; do
  [ -z "$n" ] || [ "$n" -lt 455 ] && continue
  row=$(awk -v n="$n" '$1 == n' <<<"$doc_rows")
  want="$n $name $(kind_number "$kind") $count"
  if [ -z "$row" ]; then
    fail "built-in $n ($name) is not in doc/builtins-extra.md"
  elif [ "$row" != "$want" ]; then
    fail "doc/builtins-extra.md has '$row' where builtins.def says '$want' (number name kind count)"
  fi
done <<<"$def_rows"
while read -r n name kind count; do
  [ -z "$n" ] && continue
  awk -v n="$n" '$1 == n { found = 1 } END { exit !found }' <<<"$def_rows" ||
    fail "doc/builtins-extra.md lists built-in $n ($name), which builtins.def lacks"
done <<<"$doc_rows"

if [ "$bad" -ne 0 ]; then
  echo "tables: FAILED"
  exit 1
fi
echo "tables: one list of built-ins, one of fixed symbols, and the documentation agrees"
