// Lisp threads: the body every started thread runs, its object, the
// interrupts other threads queue for it, and the end of the process with
// threads still running.
#pragma once

#include <cstdint>

#include "object/value.h"

// Set by program entry: true when a thread's error with no handler may
// enter a break loop at the console (an interactive session); otherwise
// the thread ends with the error recorded for JOIN-THREAD.
extern bool (*zv_thread_breaks_at_console)();

// Called by the break loop before it starts in a thread other than the
// first: when that thread may not break at the console, the condition is
// recorded in its object and the thread ends (never returns).
void thread_refuse_break(Value condition);

// The poll's part: runs the interrupts queued for the calling thread,
// and ends it when the process is shutting down.  Any Value the caller
// holds must be rooted.
void thread_interrupts_run();
// Whether thread_interrupts_run has something to do for the calling
// thread (its own queue, the end of the process).  Touches no Lisp
// object's contents but the calling thread's own word; for waits that
// answer interrupts between slices.
bool thread_interrupts_queued();

// The name the calling thread was started with; NIL for the first
// thread and for a thread without an object.
Value thread_own_name();

// The end of the process: the other threads are asked to end and given
// up to wait_ms milliseconds to do so.  Called by the first thread.
void threads_shutdown(uint32_t wait_ms);

// Whether the calling thread was asked to end the process (EXIT from a
// thread other than the first hands the end to the first thread).
bool thread_exit_requested();
