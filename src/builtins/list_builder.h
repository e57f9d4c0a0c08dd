// Building a list front to back.  Head and tail are roots while the
// builder is open: open() pushes them, close() pops them, so pushes made
// in between must be popped before close().
#pragma once

#include "object/memory.h"
#include "object/thread.h"
#include "object/value.h"

struct ListBuilder {
  Value head = NIL;
  Value tail = NIL;

  void open() {
    head = tail = NIL;
    root_push(&head);
    root_push(&tail);
  }
  void add(Value x) {
    Value c = cons(x, NIL);
    if (nil_p(tail))
      head = c;
    else
      set_cdr(tail, c);
    tail = c;
  }
  // Releases the roots and gives the first cell (NIL when empty); the last
  // cell's cdr stays as it is.
  Value close() {
    root_pop(2);
    return head;
  }
  // The same with the list ended by `end` (`end` itself when empty).
  Value close(Value end) {
    if (nil_p(tail))
      head = end;
    else
      set_cdr(tail, end);
    return close();
  }
};
