# Start-up failures: a missing or damaged image and bad arguments print the
# two lines naming what was wrong and exit with code 1.
source "$(dirname "$0")/common.bash"

mkdir -p "$WORK/bin"
cp "$ZORVA" "$WORK/bin/zorva"
cp "$IMAGE" "$WORK/bin/zorva.ROL"

# The name is reported as typed, not as the kernel upper-cased it.
run_in "$WORK" -ROL missing.rol
expect_bad_start missing.rol "-ROL missing.rol"
run_in "$WORK" -rol "$WORK/No/Such/world.rol" x
expect_bad_start "$WORK/No/Such/world.rol" "-rol with a missing directory"
run_in "$WORK" -ROL "$WORK"
expect_bad_start "$WORK" "-ROL naming a directory"

# Damaged images: cut in the fixed part, in the sections, by the last byte.
size=$(stat -c %s "$IMAGE")
for cut in 0 100 5243 6000 $((size / 2)) $((size - 1)); do
  head -c "$cut" "$IMAGE" >"$WORK/short.rol"
  run_in "$WORK" -ROL short.rol
  expect_bad_start short.rol "image cut to $cut of $size bytes"
done
# Garbage of the right size.
head -c "$size" /dev/zero | tr '\0' '\377' >"$WORK/junk.rol"
run_in "$WORK" -ROL junk.rol
expect_bad_start junk.rol "image of 0xFF bytes"

# Arguments starting with "#" need "+" or "-" next.
run_kernel_in "$WORK" "$WORK/bin/zorva" '#*X'
expect_bad_start '#*X' "#*X with the default image"
run_in "$WORK" -ROL "$IMAGE" a '#+OK' '#*X' b
expect_bad_start '#*X' "#*X after -ROL and good arguments"
run_kernel_in "$WORK" "$WORK/bin/zorva" '#'
expect_bad_start '#' "a lone #"

# Names longer than the kernel's 259-character buffers are refused.
long=$(printf 'a%.0s' $(seq 300))
run_in "$WORK" -ROL "$long.rol"
expect_bad_start "$long.rol" "over-long -ROL name"
run_kernel_in "$WORK" "$WORK/bin/zorva" "#+$long"
expect_bad_start "#+$long" "over-long feature name"

# Without its image beside it the kernel names the file it looked for.
rm "$WORK/bin/zorva.ROL"
run_kernel_in "$WORK" "$WORK/bin/zorva"
expect_bad_start "$WORK/bin/zorva.ROL" "no default image"

finish
