#!/usr/bin/env bash
# Start-up cost: the size of the default image and the time from starting
# the kernel to its first prompt (measured as a start on empty input, which
# reaches the prompt and exits at once), averaged over several runs; the
# same for a program run from the command line.  Peers installed on the
# machine are measured the same way for comparison.
# Usage: bench/startup.sh [path-to-zorva] [runs]
set -u
here=$(cd "$(dirname "$0")" && pwd)
zorva=${1:-$here/../build/zorva}
runs=${2:-20}
image="$(dirname "$zorva")/zorva.ROL"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo '(+ 1 2)' > "$tmp/hello.lsp"

# average_ms COMMAND...: mean wall time of `runs` runs, empty input.
average_ms() {
  local t0 t1
  t0=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" </dev/null >/dev/null 2>&1; done
  t1=$(date +%s%N)
  echo "scale=2; ($t1 - $t0) / 1000000 / $runs" | bc -l
}

printf 'image %s: %d bytes\n' "$image" "$(stat -c %s "$image")"
printf '%-28s %10s\n' "start" "ms per run"
printf '%-28s %10s\n' "zorva to the prompt" "$(average_ms "$zorva")"
printf '%-28s %10s\n' "zorva hello.lsp" "$(average_ms "$zorva" "$tmp/hello.lsp")"
if command -v clisp >/dev/null; then
  printf '%-28s %10s\n' "clisp to the prompt" "$(average_ms clisp -q)"
  printf '%-28s %10s\n' "clisp hello.lsp" "$(average_ms clisp -q "$tmp/hello.lsp")"
fi
if command -v sbcl >/dev/null; then
  printf '%-28s %10s\n' "sbcl to the prompt" "$(average_ms sbcl --noinform)"
  printf '%-28s %10s\n' "sbcl --script hello.lsp" "$(average_ms sbcl --script "$tmp/hello.lsp")"
fi
