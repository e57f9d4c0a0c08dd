# Shared by the kernel script tests, which get the kernel and the default
# image as $1 and $2.  Sourced, not run: only *.sh files are tests.
set -u

ZORVA=$(readlink -f "$1")
IMAGE=$(readlink -f "$2")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
passed=0
failed=0

# run DIR ARGS...: the kernel started in DIR with no input; sets OUT (its
# standard output), ERR, RC and MS (elapsed milliseconds).
run_in() {
  local dir=$1
  shift
  run_kernel_in "$dir" "$ZORVA" "$@"
}

# run_kernel_in DIR KERNEL ARGS...: the same with another copy of the kernel.
run_kernel_in() {
  local dir=$1 kernel=$2
  shift 2
  local t0
  t0=$(date +%s%N)
  OUT=$(cd "$dir" && timeout 60 "$kernel" "$@" </dev/null 2>"$WORK/stderr")
  RC=$?
  MS=$((($(date +%s%N) - t0) / 1000000))
  ERR=$(cat "$WORK/stderr")
}

pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "FAIL: $1"
  echo "  exit code: $RC"
  echo "  output:"
  printf '%s\n' "$OUT" | sed 's/^/    /'
  [ -n "$ERR" ] && printf '%s\n' "$ERR" | sed 's/^/    stderr: /'
  return 0
}

# expect_loaded LABEL: the last run loaded its image and ended normally.
expect_loaded() {
  if [ "$RC" -eq 0 ] && ! grep -q 'Bad .ROL-file' <<<"$OUT"; then pass; else fail "$1"; fi
}

# expect_bad_start NAME LABEL: the last run ended with the two lines naming
# NAME, exit code 1, and without the console pause (output is no terminal).
expect_bad_start() {
  local want
  want=$(printf 'Bad .ROL-file or illegal command line option: %s\nUsage: ZORVA [-ROL filename.ROL] [ARGS]*...' "$1")
  if [ "$RC" -eq 1 ] && [ "$(tail -n 2 <<<"$OUT")" == "$want" ] && [ "$MS" -lt 4000 ]; then
    pass
  else
    fail "$2 (wanted the bad-start lines naming '$1', exit 1, no pause; took ${MS} ms)"
  fi
}

# expect_lines LABEL CODE LINE...: these lines appear in this order.
expect_lines() {
  local label=$1 code=$2 rest=$OUT line
  shift 2
  for line in "$@"; do
    if [[ $rest != *"$line"* ]]; then
      fail "$label (wanted exit code $code and the line '$line' after the ones before it)"
      return
    fi
    rest=${rest#*"$line"}
  done
  if [ "$RC" -eq "$code" ]; then pass; else fail "$label (wanted exit code $code)"; fi
}

# piped_in_cwd INPUT KERNEL ARGS...: KERNEL started in $WORK/cwd with INPUT
# piped in; sets OUT, RC and ERR.
piped_in_cwd() {
  local input=$1 kernel=$2
  shift 2
  mkdir -p "$WORK/cwd"
  OUT=$(cd "$WORK/cwd" && printf '%s' "$input" | timeout 60 "$kernel" "$@" 2>"$WORK/stderr")
  RC=$?
  ERR=$(cat "$WORK/stderr")
}

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
