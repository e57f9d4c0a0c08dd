# Which image the kernel loads: -ROL in any case, the kernel's upper-cased
# name found on a case-sensitive file system, and the default image beside
# the executable.
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/bin" "$WORK/elsewhere" "$WORK/Images"
cp "$ZORVA" "$WORK/bin/zorva"
cp "$IMAGE" "$WORK/bin/zorva.ROL"
cp "$IMAGE" "$WORK/world.rol"
cp "$IMAGE" "$WORK/Images/Second.Rol"

for opt in -ROL -rol -Rol; do
  run_in "$WORK" "$opt" "$IMAGE"
  expect_loaded "$opt with the default image's full path"
done

# The kernel loads "world.rol" as WORLD.ROL; the file on disk is lower case.
run_in "$WORK" -ROL world.rol
expect_loaded "-ROL world.rol from its directory"
run_in "$WORK/elsewhere" -rol ../Images/second.rol
expect_loaded "-rol with a relative path whose components differ in case"
run_in "$WORK/elsewhere" -ROL "$WORK\\images\\SECOND.ROL"
expect_loaded "-ROL with backslashes"

# Default: the image named after the program, beside it, whatever the
# working directory.
run_kernel_in "$WORK/elsewhere" "$WORK/bin/zorva"
expect_loaded "default image beside the executable"
# A plain argument is a program to run (X.LSP here, an empty one).
: >"$WORK/elsewhere/x.lsp"
run_kernel_in "$WORK/elsewhere" "$WORK/bin/zorva" x y
expect_loaded "default image with plain arguments"
# With fewer than two arguments after it, -rol is an ordinary argument.
: >"$WORK/elsewhere/-rol.lsp"
run_kernel_in "$WORK/elsewhere" "$WORK/bin/zorva" -rol
expect_loaded "-rol alone is an argument"

# Features are set or removed and the rest passed on.
printf '(format t "~S ~S" (if (member (quote fast) *features*) t) (cdr %%command-line))\n' >"$WORK/x.lsp"
run_kernel_in "$WORK" "$WORK/bin/zorva" '#+FAST' x y '#-FAST' '#+fast' '#+'
expect_loaded "feature arguments"
[ "$OUT" == 'T ("x" "y")' ] && pass || fail "feature arguments: FAST on *FEATURES*, x and y passed on"

# A renamed kernel looks for its own name's image.
cp "$ZORVA" "$WORK/bin/other"
run_kernel_in "$WORK" "$WORK/bin/other"
expect_bad_start "$WORK/bin/other.ROL" "renamed kernel without its image"
cp "$IMAGE" "$WORK/bin/other.ROL"
run_kernel_in "$WORK" "$WORK/bin/other"
expect_loaded "renamed kernel with its image"

finish
