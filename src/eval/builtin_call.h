// The routine entry convention of built-ins, shared by the evaluator's
// calls and APPLY: the record's count decides what the routine gets.
#pragma once

#include <cstdint>

#include "builtins/table.h"
#include "object/thread.h"
#include "object/value.h"

// Run built-in n on the arguments between zvform and septr: a count-1 or
// count-2 routine gets them as its parameters, any other reads the frame.
inline Value run_builtin(ThreadState* ts, uint32_t n, uint32_t count) {
  BuiltinFn fn = zv_builtins[n].fn;
  ts->current_builtin = static_cast<uint16_t>(n);
  ts->zvlexenv = 0;
  ts->lexframe = 0;
  ts->mv_count = 1;
  uint16_t f = ts->zvform;
  if (count == 1) return fn(ts->stack[f - 1].arg, NIL);
  if (count == 2) return fn(ts->stack[f - 1].arg, ts->stack[f - 2].arg);
  return fn(NIL, NIL);
}
