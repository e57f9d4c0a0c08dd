// %OBJECT-PART: the parts of the kernel objects the library builds on
// (array headers, composite streams), for the standard functions that read
// them.
#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "io/stream.h"
#include "object/arrays.h"

// object/arrays.cpp
Value array_header_part(Value h, uint32_t field, bool set, Value value);

namespace {

}  // namespace

// 466 (object field &optional value).  Field NIL: which kind of object it
// is: 1 for an array header, 2 for a composite stream, NIL for anything
// else.  A composite stream's fields: 0 its kind, 1 and 2 its components
// (read only).  An array header's fields: see array_header_part.
Value bi_object_part(Value object, Value field) {
  check_max_args(3);
  if (nil_p(field))
    return arr_is_header(object)          ? make_fixnum(1)
           : is_composite_stream(object) ? make_fixnum(2)
                                          : NIL;
  while (!is_fixnum(field) || fixnum_value(field) < 0) field = lisp_error(E_WRONG_TYPE, field);
  uint32_t f = uint32_t(fixnum_value(field));
  bool set = arg_count() > 2;
  if (arr_is_header(object)) return array_header_part(object, f, set, set ? arg(3) : NIL);
  if (!is_composite_stream(object) || set || f > 2) return lisp_error(E_WRONG_TYPE, object);
  return heap_word(object, f);
}
