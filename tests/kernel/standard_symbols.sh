# Every symbol the standard's COMMON-LISP package exports is defined in the
# default image or listed, with its reason, in doc/standard-symbols.md; and
# every symbol listed there is a standard one that is not defined.  The
# image's COMMON-LISP package exports exactly the standard's names.
source "$(dirname "$0")/common.bash"

HERE=$(dirname "$(readlink -f "$0")")
NAMES=$HERE/standard-symbols.txt
DOC=$HERE/../../doc/standard-symbols.md

if [ "$(wc -l <"$NAMES")" -ne 978 ]; then
  echo "FAIL: $NAMES does not hold the 978 standard names"
  exit 1
fi

# The names listed in the document: the first column of its tables.
sed -n 's/^| `\([^`]*\)` |.*/\1/p' "$DOC" | sort >"$WORK/listed"
sort -c "$NAMES" 2>/dev/null || { echo "FAIL: $NAMES is not sorted"; exit 1; }
dups=$(uniq -d "$WORK/listed")
if [ -n "$dups" ]; then
  echo "FAIL: listed more than once in doc/standard-symbols.md:" $dups
  failed=$((failed + 1))
fi

# The program prints, for each name of the file given, DEFINED or
# UNDEFINED and the name; then EXPORTS and the names COMMON-LISP exports
# that the file lacks, and MISSING and those it has that are not exported.
cat >"$WORK/check.lsp" <<'LISP'
(defun defined-p (s)
  (or (fboundp s) (special-operator-p s) (boundp s) (constantp s)
      (member s lambda-list-keywords)
      (find-class s nil)
      (get s '%type-expander)
      (null (nth-value 1 (%catch-error (typep 1 s))))))
(let ((names nil)
      (exported nil))
  (with-open-file (in (car *script-arguments*))
    (do ((line (read-line in nil nil) (read-line in nil nil)))
        ((null line))
      (push line names)))
  (setq names (nreverse names))
  (dolist (name names)
    (format t "~:[UNDEFINED~;DEFINED~] ~A~%" (defined-p (intern name)) name))
  (do-external-symbols (s "COMMON-LISP") (push (symbol-name s) exported))
  (format t "EXPORTS~{ ~A~}~%"
          (remove-if (lambda (n) (member n names :test #'string=)) exported))
  (format t "MISSING~{ ~A~}~%"
          (remove-if (lambda (n) (member n exported :test #'string=)) names)))
LISP

run_in "$WORK" "$WORK/check.lsp" "$NAMES"
if [ "$RC" -ne 0 ] || ! grep -q '^MISSING' <<<"$OUT"; then
  fail "the checking program ran"
  finish
  exit
fi
pass
PROGRAM=$OUT

grep '^UNDEFINED ' <<<"$PROGRAM" | cut -d' ' -f2 | sort >"$WORK/undefined"
grep '^DEFINED ' <<<"$PROGRAM" | cut -d' ' -f2 | sort >"$WORK/defined"

unlisted=$(comm -23 "$WORK/undefined" "$WORK/listed")
if [ -n "$unlisted" ]; then
  RC=0 OUT="not defined and not listed in doc/standard-symbols.md:"$'\n'"$unlisted" ERR=""
  fail "every undefined standard symbol is listed"
else
  pass
fi

stale=$(comm -12 "$WORK/defined" "$WORK/listed")
if [ -n "$stale" ]; then
  RC=0 OUT="defined now, so their lines in doc/standard-symbols.md must go:"$'\n'"$stale" ERR=""
  fail "every listed symbol is undefined"
else
  pass
fi

strangers=$(comm -23 "$WORK/listed" <(sort "$NAMES"))
if [ -n "$strangers" ]; then
  RC=0 OUT="listed in doc/standard-symbols.md but not standard names:"$'\n'"$strangers" ERR=""
  fail "every listed symbol is a standard one"
else
  pass
fi

exports=$(grep '^EXPORTS' <<<"$PROGRAM")
missing=$(grep '^MISSING' <<<"$PROGRAM")
if [ "$exports" != "EXPORTS" ] || [ "$missing" != "MISSING" ]; then
  RC=0 OUT="$exports"$'\n'"$missing" ERR=""
  fail "COMMON-LISP exports exactly the standard names"
else
  pass
fi

echo "$(wc -l <"$WORK/defined") of 978 standard symbols defined"
finish
