#!/usr/bin/env bash
# Run fuzz targets one after the other: run.sh BUILD-DIR SECONDS TARGET...
# Each starts from its seed corpus (tests/fuzz/corpus/TARGET, copied into
# BUILD-DIR/corpus so that what libFuzzer adds stays out of the
# repository); the image target also gets a fresh image from the build's
# genesis with an empty library, which always matches the kernel's
# built-in table, and runs on that image.  Inputs that fail are kept in BUILD-DIR/artifacts.
# Prints executions and executions per second for each target; exits 1
# when any target found something.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
seconds="$2"
shift 2
mkdir -p "$build/artifacts"
status=0
for t in "$@"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  cp -n "$here/corpus/$t"/* "$corpus/" 2>/dev/null
  if [ "$t" = image ]; then
    empty="$(mktemp -d)"
    (cd "$build" && ./genesis "$empty" "$build/corpus/small.ROL" "$here/../../doc/messages.txt") \
      >/dev/null 2>&1 && cp "$build/corpus/small.ROL" "$corpus/genesis-small.ROL"
    rm -rf "$empty"
  fi
  log="$build/fuzz_$t.log"
  # The image target runs on the small image itself: each input that loads
  # is followed by loading that one again.
  image="$build/zorva.ROL"
  [ "$t" = image ] && [ -f "$build/corpus/small.ROL" ] && image="$build/corpus/small.ROL"
  # The kernel's own output (break messages, the banner) is not wanted.
  ZORVA_FUZZ_IMAGE="$image" "$build/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "$corpus" \
    </dev/null >/dev/null 2>"$log"
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  if [ $rc -eq 0 ]; then
    echo "fuzz_$t: ${runs:-?} executions, ${rate:-?} per second, no findings"
  else
    echo "fuzz_$t: FAILED (exit $rc) after ${runs:-?} executions; see $log"
    grep -E "^(==[0-9]+==ERROR|fuzz: |SUMMARY|artifact_prefix|Test unit written)" "$log" | head -20
    status=1
  fi
done
exit $status
