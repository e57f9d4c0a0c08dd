// %OBJECT-PART: the parts of the kernel objects the library builds on
// (composite streams), for the standard functions that read them.
#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "io/stream.h"

// 466 (object field &optional value).  Field NIL: which kind of object it
// is, 2 for a composite stream, NIL for anything else.  A composite
// stream's fields: 0 its kind, 1 and 2 its components (read only).
namespace {

Value bi_object_part(Value object, Value field) {
  check_max_args(3);
  if (nil_p(field)) return is_composite_stream(object) ? make_fixnum(2) : NIL;
  if (!is_composite_stream(object)) return lisp_error(E_WRONG_TYPE, object);
  if (arg_count() > 2) return lisp_error(E_WRONG_TYPE, object);
  while (!is_fixnum(field) || fixnum_value(field) < 0 || fixnum_value(field) > 2)
    field = lisp_error(E_WRONG_TYPE, field);
  return heap_word(object, uint32_t(fixnum_value(field)));
}

}  // namespace

void bi_install_object_parts() { bi_install(466, bi_object_part); }
