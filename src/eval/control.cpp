// The special forms that establish and leave contexts: BLOCK, CATCH,
// THROW, RETURN, RETURN-FROM, TAGBODY, GO, UNWIND-PROTECT, and error
// catching with and without retry.
//
// Each form re-reads its arguments from its eval frame after a throw lands
// in it: the frame holds the form, so nothing needs a native root across
// the jump.
#include "builtins/table.h"
#include "eval/conditions.h"
#include "eval/context.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/memory.h"

namespace {

// The arguments of the form in the innermost eval frame.
inline Value frame_args(uint16_t frame) { return cdr(stack_entry(frame).arg); }

// The innermost context with `flag` whose guarded entry (just below it)
// is EQ to x, or 0.
uint16_t find_guarded(uint16_t flag, Value x) {
  ThreadState* ts = zvts;
  for (uint16_t i = ts->zvdincxt; i; i = stack_entry(i).link)
    if ((ts->stack[i].tag & flag) && lisp_eq(stack_entry(i - 1).arg, x)) return i;
  return 0;
}

}  // namespace

// BLOCK and CATCH look alike but stay two loops: setjmp must be called in
// the frame that stays live while the body runs, so the loop cannot move
// into a helper both share, and a longjmp into it may only rely on what
// each loop keeps in the context (hence ts is read anew after setjmp).
Value sf_block(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform;
  Context cx;
  context_push(&cx, CX_BLOCKLIKE | CX_RESTART);
  Value v = NIL;
  for (;;) {
    Value name = car(frame_args(frame));
    ts->septr = cx.index;
    if (nil_p(name)) {
      context_set_flags(cx.index, CX_BLOCKLIKE | CX_RESTART | CX_NIL_BLOCK);
    } else {
      context_set_flags(cx.index, CX_BLOCKLIKE | CX_RESTART | CX_NAMED);
      push_arg(name);
    }
    int code = setjmp(cx.resume);
    ts = zvts;
    if (code == 0) {
      v = progn(cdr(frame_args(frame)));
      break;
    }
    if (code == TC_RETURN) {
      v = ts->glvalue;
      break;
    }
    // A restart runs the form again from its start.
  }
  context_pop(&cx);
  return v;
}

Value sf_catch(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform;
  Context cx;
  context_push(&cx, CX_BLOCKLIKE | CX_RESTART);
  Value v = NIL;
  for (;;) {
    context_set_flags(cx.index, CX_BLOCKLIKE | CX_RESTART);
    ts->septr = cx.index;
    int code = setjmp(cx.resume);
    ts = zvts;
    if (code == 0) {
      Value tag = eval(frame_args(frame));
      push_arg(tag);
      context_set_flags(cx.index, CX_BLOCKLIKE | CX_RESTART | CX_CATCH);
      v = progn(cdr(frame_args(frame)));
      break;
    }
    if (code == TC_THROW) {
      v = ts->glvalue;
      break;
    }
  }
  context_pop(&cx);
  return v;
}

Value sf_throw(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform;
  Value tag = eval(args);
  root_push(&tag);
  Value rest = cdr(frame_args(frame));
  if (!cons_p(rest)) {
    root_pop();
    return lisp_error(E_FEW_ARGS);
  }
  Value v = eval(rest);
  uint16_t target = find_guarded(CX_CATCH, tag);
  if (!target) {
    Value t = tag;
    root_pop();
    return lisp_error(E_NO_TAG, t);
  }
  root_pop();
  ts->glvalue = v;
  throw_to(TC_THROW, target);
}

namespace {

[[noreturn]] void return_to(uint16_t target, Value v) {
  zvts->glvalue = v;
  throw_to(TC_RETURN, target);
}

// (RETURN [value]) on the argument list `args`.
Value return_nil(Value args) {
  ThreadState* ts = zvts;
  Value v = NIL;
  if (cons_p(args))
    v = eval(args);
  else
    ts->mv_count = 1;
  uint16_t target = find_context(CX_NIL_BLOCK);
  if (!target) return lisp_error(E_NO_BLOCK, NIL);
  return_to(target, v);
}

}  // namespace

Value sf_return(Value args, Value) { return return_nil(args); }

Value sf_return_from(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  Value name = car(args);
  if (nil_p(name)) return return_nil(cdr(args));
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform;
  Value rest = cdr(args);
  Value v = NIL;
  if (cons_p(rest)) {
    v = eval(rest);
  } else {
    ts->mv_count = 1;
  }
  name = car(frame_args(frame));
  uint16_t target = find_guarded(CX_NAMED, name);
  if (!target) return lisp_error(E_NO_BLOCK, name);
  return_to(target, v);
}

namespace {

// Walk a tag body from `pos`: conses are evaluated, atoms are tags.
void walk_body(Value pos) {
  root_push(&pos);
  for (; cons_p(pos); pos = cdr(pos))
    if (cons_p(car(pos))) eval(pos);
  root_pop();
}

}  // namespace

Value sf_tagbody(Value args, Value) {
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform;
  Context cx;
  context_push(&cx, CX_BLOCKLIKE | CX_RESTART | CX_TAGBODY);
  push_arg(args);  // GO searches the body list just below the context
  int code = setjmp(cx.resume);
  ts = zvts;
  Value pos;
  if (code == 0) {
    pos = ts->stack[cx.index - 1].arg;
  } else {
    // The throw left septr at the context: take the body entry back.
    ts->septr = static_cast<uint16_t>(cx.index - 1);
    if (code == TC_GO) {
      pos = ts->glvalue;
    } else {  // a restart re-reads the body from the form
      pos = frame_args(frame);
      ts->stack[cx.index - 1].arg = pos;
    }
  }
  walk_body(pos);
  context_pop(&cx);
  ts->mv_count = 1;
  ts->glvalue = NIL;
  return NIL;
}

Value sf_go(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  ThreadState* ts = zvts;
  Value tag = car(args);
  for (uint16_t i = ts->zvdincxt; i; i = stack_entry(i).link) {
    if (!(ts->stack[i].tag & CX_TAGBODY)) continue;
    for (Value p = stack_entry(i - 1).arg; cons_p(p); p = cdr(p)) {
      if (!cons_p(car(p)) && lisp_eql(car(p), tag)) {
        ts->glvalue = cdr(p);
        throw_to(TC_GO, i);
      }
    }
  }
  return lisp_error(E_NO_TAG, tag);
}

namespace {

// UNWIND-PROTECT: the body and cleanup forms are read from the eval frame.
Value protected_form(void* data) {
  uint16_t frame = *static_cast<uint16_t*>(data);
  return eval(frame_args(frame));
}

void cleanup_forms(int, void* data) {
  uint16_t frame = *static_cast<uint16_t*>(data);
  progn(cdr(frame_args(frame)));
}

}  // namespace

Value sf_unwind_protect(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  uint16_t frame = zvts->zvform;
  while (establish_cleanup(protected_form, cleanup_forms, CX_BLOCKLIKE | CX_RESTART, &frame) ==
         TC_RESTART) {
  }
  return zvts->glvalue;
}

// Two values: the form's value and NIL, or NIL and the list of the
// error's values.
// Both error-catching forms hide the condition system's handlers outside
// them: an error inside is theirs (a barrier bound just above the context).
Value sf_catch_error(Value args, Value) {
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform;
  uint32_t limit = ts->septr;
  bool missing = !cons_p(args);
  condition_bind_barrier();
  Context cx;
  context_push(&cx, CX_ERRCATCH);
  if (missing) {
    context_set_flags(cx.index, 0);
    lisp_error(E_FEW_ARGS_CALL);
  }
  Value pair[2] = {NIL, NIL};
  int code = setjmp(cx.resume);
  ts = zvts;
  if (code == 0 || code == TC_RESTART) {
    context_set_flags(cx.index, CX_ERRCATCH);
    pair[0] = eval(frame_args(frame));
  } else {
    pair[1] = values_list(ts->glvalue);
  }
  context_pop(&cx);
  unbind_to(limit);
  ts->septr = static_cast<uint16_t>(limit);
  return set_values(2, pair);
}

// Evaluate the first form until it completes without error, asking the
// second form after each error whether to try again.
Value sf_retry_on_error(Value args, Value) {
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform;
  uint32_t limit = ts->septr;
  bool missing = !cons_p(args);
  condition_bind_barrier();
  Context cx;
  context_push(&cx, CX_ERRCATCH | CX_RESTART);
  if (missing) {
    context_set_flags(cx.index, 0);
    lisp_error(E_FEW_ARGS_CALL);
  }
  Value v = NIL;
  int code = setjmp(cx.resume);
  ts = zvts;
  bool again = true;
  if (code != 0) {
    // An error in the deciding form is not retried: it would loop.
    context_set_flags(cx.index, 0);
    Value rest = cdr(frame_args(frame));
    again = cons_p(rest) && !nil_p(eval(rest));
    ts->septr = cx.index;
  }
  if (again) {
    context_set_flags(cx.index, CX_ERRCATCH | CX_RESTART);
    // A fresh cell, so that a macro call in the form is never displaced.
    Value cell = cons(car(frame_args(frame)), NIL);
    v = eval(cell);
  } else {
    ts->mv_count = 1;
  }
  uint32_t n = ts->mv_count;
  uint16_t base = ts->mv_base;
  context_pop(&cx);
  unbind_to(limit);
  ts->septr = static_cast<uint16_t>(limit);
  ts->mv_count = static_cast<uint16_t>(n);
  ts->mv_base = base;
  return v;
}
