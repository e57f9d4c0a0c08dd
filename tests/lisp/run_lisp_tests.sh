#!/usr/bin/env bash
# Runs Lisp check files through the kernel in line mode and compares what
# it prints with what each check expects.
#
#   run_lisp_tests.sh KERNEL SOURCE-DIR FILE.lsp...
#
# The kernel is started once per file, in a fresh working directory, with
# the whole file piped in.  Each check's form is wrapped so that its values
# come back as one list and an error it signals is caught:
#
#   (%catch-error (multiple-value-call (function list) FORM))
#
# and a string marker between two checks delimits what each one printed.
# The comparison is made here, on the text, because the Lisp library that
# would let the kernel compare for itself does not exist yet; this way it
# needs nothing of the kernel beyond the reader, the printer and four
# built-ins.  The check format is described in tests/lisp/README.md.
#
# Exit code: 0 when every check passed, 1 when one failed, 77 (ctest's
# skip code) when a file was skipped as a whole.  With ZORVA_LISP_STRICT=1
# a skipped file counts as failed.
set -u

KERNEL=$(readlink -f "$1")
SRC=$(readlink -f "$2")
shift 2
TIMEOUT=${ZORVA_TEST_TIMEOUT:-300}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

UNSET=$'\x01'  # an expectation the check does not make
SEP=$'\x02'    # between the elements of a caught error

# ---------------------------------------------------------------------------
# Text

# One line, white space runs as one space, none just inside parentheses:
# the line breaks the printer chooses do not matter.  The same rules are
# applied to the kernel's output by the awk program below.
normalise() {  # normalise VAR TEXT
  local s=${2//$'\n'/ }
  s=${s//$'\t'/ }
  while [[ $s == *"  "* ]]; do s=${s//  / }; done
  s=${s# }
  s=${s% }
  s=${s//( /(}
  s=${s// )/)}
  printf -v "$1" '%s' "$s"
}

# Reads the kernel's output and describes each check's part of it:
#   B k ok|bad   the part of form k, and whether it ends in the wrapper's
#                two printed values
#   R text       (bad) the whole part
#   O text       what the form printed before its values
#   V text       its values, as the inside of the printed list
#   E text       the caught error's elements, SEP between them
# Prompts ("> ", "Break> " and the continuation prompts "n>") are the
# listener's and are dropped.
read -r -d '' SPLITTER <<'AWK'
function norm(s) {
  gsub(/[\t\n]/, " ", s); gsub(/  +/, " ", s); sub(/^ /, "", s); sub(/ $/, "", s)
  gsub(/\( /, "(", s); gsub(/ \)/, ")", s)
  return s
}
function scan_delim(i, d,   j, c) {
  for (j = i + 1; j <= N; j++) {
    c = substr(S, j, 1)
    if (c == "\\") j++
    else if (c == d) return j
  }
  return N
}
function scan_list(i,   j, c) {
  for (j = i + 1; j <= N; j++) {
    c = substr(S, j, 1)
    if (c == " ") continue
    if (c == ")") return j
    j = scan(j)
  }
  return N
}
function scan_unreadable(i,   j, c) {
  for (j = i + 1; j <= N; j++) {
    c = substr(S, j, 1)
    if (c == "\"" || c == "|") j = scan_delim(j, c)
    else if (c == ">") return j
  }
  return N
}
# The end of the S-expression that starts at i.
function scan(i,   c, d, j) {
  c = substr(S, i, 1)
  if (c == "\"" || c == "|") return scan_delim(i, c)
  if (c == "(") return scan_list(i)
  if (c == "'" || c == "`" || c == ",") return i < N ? scan(i + 1) : i
  if (c == "#") {
    d = substr(S, i + 1, 1)
    if (d == "(") return scan_list(i + 1)
    if (d == "<") return scan_unreadable(i + 1)
    if (d == "\\") {
      for (j = i + 2; j < N && index(" ()", substr(S, j + 1, 1)) == 0; j++) ;
      return j
    }
  }
  for (j = i; j < N && index(" ()\"", substr(S, j + 1, 1)) == 0; j++) ;
  return j
}
# The top-level S-expressions of s into parts[1..n]; returns n.
function split_top(s, parts,   i, e, n) {
  S = s; N = length(s); n = 0
  for (i = 1; i <= N; i++) {
    if (substr(S, i, 1) == " ") continue
    e = scan(i)
    parts[++n] = substr(S, i, e - i + 1)
    i = e
  }
  return n
}
function is_list(x) { return x == "NIL" || substr(x, 1, 1) == "(" }
function inside(x) { return x == "NIL" ? "" : substr(x, 2, length(x) - 2) }
function emit(k, t,   top, n, i, out, errs, m, e) {
  t = norm(t)
  n = split_top(t, top)
  if (n < 2 || !is_list(top[n - 1]) || !is_list(top[n])) {
    print "B " k " bad"; print "R " t; return
  }
  out = ""
  for (i = 1; i <= n - 2; i++) out = out (i > 1 ? " " : "") top[i]
  print "B " k " ok"; print "O " norm(out); print "V " inside(top[n - 1])
  e = ""
  if (top[n] != "NIL") {
    m = split_top(inside(top[n]), errs)
    for (i = 1; i <= m; i++) e = e (i > 1 ? sep : "") errs[i]
  }
  print "E " e
}
BEGIN { current = -1; text = "" }
{
  line = $0
  if (match(line, /"@@zorva-check [0-9]+"$/)) {
    k = substr(line, RSTART + 15, RLENGTH - 16) + 0
    if (current >= 0 && k >= 1) emit(k, text)
    current = k; text = ""; next
  }
  while (match(line, /^(> |Break> |[0-9]+>)/)) line = substr(line, RLENGTH + 1)
  if (line == ">" || line == "Break>") line = ""
  text = text line "\n"
}
AWK

# Messages 0..39 as the image holds them, from the genesis sources, quoted
# as the printer shows them: MSG[n].
declare -a MSG=()
load_messages() {
  local file=$SRC/src/genesis/messages.cpp
  [ -f "$file" ] || return 0
  mapfile -t MSG < <(awk '
    /zv_message_texts\[/ { on = 1; next }
    on && /^};/ { exit }
    on && /^[[:space:]]*"/ { sub(/^[[:space:]]*/, ""); sub(/,[[:space:]]*$/, ""); print }
  ' "$file")
  [ "${#MSG[@]}" -eq 40 ] || MSG=()
}

# ---------------------------------------------------------------------------
# Check files, parsed into parallel arrays: KIND (check, error or setup),
# FORM, EXPECT (the "=>" values, or the code and objects of "!!"), OUTPUT
# (the "->" text) and LINE.

parse_file() {
  local file=$1 line text lineno=0
  local form="" form_line=0 kind="" expect=$UNSET output=$UNSET
  KIND=() FORM=() EXPECT=() OUTPUT=() LINE=() SKIP_REASON="" NEEDS=()
  finish() {  # the pending form with its expectations
    if [ -n "$kind" ] && [ -z "$form" ]; then
      echo "FAIL $FILE_LABEL:$lineno: an expectation without a form"
      PARSE_ERRORS=$((PARSE_ERRORS + 1))
    elif [ -n "$form" ]; then
      KIND+=("${kind:-setup}") FORM+=("$form") EXPECT+=("$expect") OUTPUT+=("$output")
      LINE+=("$form_line")
    fi
    form="" kind="" expect=$UNSET output=$UNSET
  }
  more() {  # more VAR TEXT: add to an expectation
    local now=${!1}
    [ "$now" = "$UNSET" ] && now=""
    printf -v "$1" '%s' "${now:+$now }$2"
  }
  while IFS= read -r line || [ -n "$line" ]; do
    lineno=$((lineno + 1))
    text=${line#"${line%%[![:space:]]*}"}
    case $text in
      ";;! skip:"*) SKIP_REASON=${text#;;! skip:} ;;
      ";;! needs:"*) NEEDS+=("${text#;;! needs:}") ;;
      ";"*) ;;
      "") finish ;;
      "=>"*)
        [ "$kind" = error ] || kind=check
        more expect "${text#=>}" ;;
      "!!"*)
        kind=error
        more expect "${text#!!}" ;;
      "->"*)
        [ -n "$kind" ] || kind=check
        more output "${text#->}" ;;
      *)
        [ -n "$kind" ] && finish
        [ -z "$form" ] && form_line=$lineno
        form="${form:+$form$'\n'}$line" ;;
    esac
  done <"$file"
  finish
}

# ---------------------------------------------------------------------------
# Running the kernel

# run_session FORM...: the kernel on the wrapped forms.  Sets RC, RAW (its
# whole output) and, per form k, STATUS[k] (ok, bad or missing), PART[k],
# OUT[k], VALS[k] and ERR[k] as the splitter describes them.
run_session() {
  local input=$WORK/input dir=$WORK/cwd i=0 f
  rm -rf "$dir"
  mkdir -p "$dir"
  {
    echo '"@@zorva-check 0"'
    for f in "$@"; do
      i=$((i + 1))
      printf '(%%catch-error (multiple-value-call (function list)\n%s\n))\n' "$f"
      echo "\"@@zorva-check $i\""
    done
  } >"$input"
  RAW=$(cd "$dir" && timeout "$TIMEOUT" "$KERNEL" <"$input" 2>&1)
  RC=$?
  STATUS=() PART=() OUT=() VALS=() ERR=()
  local k=0 tag rest
  while IFS= read -r line; do
    tag=${line:0:2} rest=${line:2}
    case $tag in
      "B ") k=${rest%% *} STATUS[k]=${rest#* } ;;
      "R ") PART[k]=$rest ;;
      "O ") OUT[k]=$rest ;;
      "V ") VALS[k]=$rest ;;
      "E ") ERR[k]=$rest ;;
    esac
  done < <(awk -v sep="$SEP" "$SPLITTER" <<<"$RAW")
  for ((k = 1; k <= i; k++)); do
    [ -n "${STATUS[k]+x}" ] || STATUS[k]=missing
  done
}

# ---------------------------------------------------------------------------
# Judging the check at CUR (form number CUR + 1 of the session)

failed=0 passed=0

report() {  # report EXPECTED ACTUAL
  local k=$((CUR + 1))
  failed=$((failed + 1))
  echo "FAIL $FILE_LABEL:${LINE[CUR]}"
  local first=1 l
  while IFS= read -r l; do
    if [ "$first" = 1 ]; then echo "  form:     $l"; else echo "            $l"; fi
    first=0
  done <<<"${FORM[CUR]}"
  echo "  expected: $1"
  echo "  actual:   $2"
  [ "${STATUS[k]}" = ok ] && [ -n "${OUT[k]}" ] && echo "  printed:  ${OUT[k]}"
  return 0
}

# The caught error of form k as one line: message text, then objects.
error_line() {
  local -a e
  IFS=$SEP read -r -a e <<<"${ERR[$1]}"
  echo "error: ${e[*]:2}"
}

# "!! code objects": the number of objects the code carries, the message
# text when it is one of the image's (below 40), the objects when given.
judge_error() {
  local k=$((CUR + 1)) spec code objects msg count want
  normalise spec "${EXPECT[CUR]}"
  code=${spec%% *} objects=""
  [ "$code" != "$spec" ] && objects=${spec#* }
  if ! [[ $code =~ ^(0x[0-9a-fA-F]+|[0-9]+)$ ]]; then
    report "an error code" "'$code' in the check file"
    return
  fi
  code=$((code)) msg=$((code & 255)) count=$(((code >> 12) & 15))
  want="error $code ($count objects${objects:+: $objects}"
  [ "$msg" -lt 40 ] && [ "${#MSG[@]}" -eq 40 ] && want+=", message ${MSG[msg]}"
  want+=")"
  if [ -z "${ERR[k]}" ]; then
    report "$want" "values: ${VALS[k]}"
    return
  fi
  local -a e
  IFS=$SEP read -r -a e <<<"${ERR[k]}"
  local got_objects="${e[*]:3}"
  if [ $((${#e[@]} - 3)) -ne "$count" ] ||
    { [ "$msg" -lt 40 ] && [ "${#MSG[@]}" -eq 40 ] && [ "${e[2]}" != "${MSG[msg]}" ]; } ||
    { [ -n "$objects" ] && [ "$got_objects" != "$objects" ]; }; then
    report "$want" "$(error_line "$k")"
    return
  fi
  passed=$((passed + 1))
}

judge() {
  local k=$((CUR + 1)) want
  case ${STATUS[k]} in
    missing)
      report "its values" "nothing: the kernel ended before this check (exit code $RC)"
      return ;;
    bad)
      report "its values" "${PART[k]}"
      return ;;
  esac
  if [ "${OUTPUT[CUR]}" != "$UNSET" ]; then
    normalise want "${OUTPUT[CUR]}"
    if [ "${OUT[k]}" != "$want" ]; then
      report "printed output: $want" "printed output: ${OUT[k]}"
      return
    fi
  fi
  case ${KIND[CUR]} in
    error) judge_error ;;
    setup)
      if [ -n "${ERR[k]}" ]; then report "the set-up form to run" "$(error_line "$k")"; fi ;;
    check)
      want="no error"
      [ "${EXPECT[CUR]}" != "$UNSET" ] && normalise want "${EXPECT[CUR]}"
      if [ -n "${ERR[k]}" ]; then
        report "$want" "$(error_line "$k")"
      elif [ "${EXPECT[CUR]}" != "$UNSET" ] && [ "${VALS[k]}" != "$want" ]; then
        report "$want" "${VALS[k]}"
      else
        passed=$((passed + 1))
      fi ;;
  esac
}

# The kernel runs wrapped checks, and the file's "needs" lines hold;
# prints the reason when not.
probe() {
  local -a forms=('"zorva"') wants=('"zorva"')
  local n want i
  for n in "${NEEDS[@]}"; do
    if [[ $n != *"=>"* ]]; then
      echo "bad needs line: $n"
      return 1
    fi
    forms+=("${n%%=>*}")
    normalise want "${n#*=>}"
    wants+=("$want")
  done
  run_session "${forms[@]}"
  for ((i = 0; i < ${#forms[@]}; i++)); do
    local k=$((i + 1))
    if [ "${STATUS[k]}" = ok ] && [ -z "${ERR[k]}" ] && [ "${VALS[k]}" = "${wants[i]}" ]; then
      continue
    fi
    if [ "$i" -eq 0 ]; then
      echo "the kernel cannot run wrapped checks yet (reader, printer, %CATCH-ERROR or MULTIPLE-VALUE-CALL)"
    else
      local got=${VALS[k]:-${PART[k]:-nothing}}
      [ -n "${ERR[k]:-}" ] && got=$(error_line "$k")
      normalise n "${forms[i]}"
      echo "needs $n => ${wants[i]}, got: $got"
    fi
    return 1
  done
  return 0
}

total_failed=0
skipped_files=0

run_file() {
  local file=$1 reason
  FILE_LABEL=${file#"$SRC"/}
  PARSE_ERRORS=0
  parse_file "$file"
  failed=$PARSE_ERRORS passed=0
  if [ -n "$SKIP_REASON" ]; then
    echo "SKIP $FILE_LABEL:$SKIP_REASON"
    skipped_files=$((skipped_files + 1))
    return
  fi
  if ! reason=$(probe); then
    echo "SKIP $FILE_LABEL: $reason"
    skipped_files=$((skipped_files + 1))
    return
  fi
  run_session "${FORM[@]}"
  for ((CUR = 0; CUR < ${#FORM[@]}; CUR++)); do judge; done
  # Every check is wrapped, so only a fault of the kernel or a form that
  # does not read ends the session otherwise than at the end of input.
  if [ "$RC" -ne 0 ]; then
    failed=$((failed + 1))
    echo "FAIL $FILE_LABEL: the kernel exited with code $RC; its output ended with:"
    tail -n 8 <<<"$RAW" | sed 's/^/  /'
  fi
  echo "$FILE_LABEL: $passed passed, $failed failed"
  total_failed=$((total_failed + failed))
}

load_messages
for f in "$@"; do run_file "$(readlink -f "$f")"; done
[ "$total_failed" -gt 0 ] && exit 1
if [ "$skipped_files" -gt 0 ]; then
  [ "${ZORVA_LISP_STRICT:-0}" = 1 ] && exit 1
  exit 77
fi
exit 0
