// The top-level driver: the kernel's own read-eval-print loop, and the
// one-time initialisation that runs before its first pass.
//
// The image shapes the loop through fixed symbols: the prompt, the table
// of command characters, the standard streams, the histories of forms and
// values, and the start-up action.
#pragma once

#include "object/value.h"

// Run the top level until the session ends: returns 0 to exit, 1 to
// restart on the image named in zv_image_name.  With first_time set the
// one-time initialisation runs first (its body once per process).
int driver_top_level(int first_time);

// Signal handlers, reserves, the standard streams and the image's start-up
// action.  Only the first call does anything.
void driver_init_once();

// What a world is given before its first pass (and after another world
// replaced it): no hooks, the reserves of its areas, the colours of its
// header, the standard streams.
void driver_setup_world();

// The reserves a running world keeps back for error handling: a
// sixteenth of the cons cells, a quarter of the stack-size parameter on
// the Lisp stack and on the root stack; and the emergency reserve of
// cells and heap bytes the break loop of an exhaustion gets.
void driver_set_reserves();

// Print each value of a list on an output stream, each from a fresh line
// and with escapes; an empty list prints NIL.
void driver_print_values(Value values, Value stream);
