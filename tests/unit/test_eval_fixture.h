// A world for evaluator tests: the genesis world with the signaller
// installed, error output captured in a string stream, a handful of test
// built-ins in the spare records, and a tiny form builder so that tests
// read like the Lisp they exercise.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "genesis/world.h"
#include "io/stream.h"
#include "object/error_hook.h"
#include "object/gc.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace evaltest {

// ---------------------------------------------------------------------------
// Forms from text.  Symbols are upcased and interned; NIL reads as NIL;
// 'x, #'x, :key, "string", integers and dotted pairs are understood.
// Intermediate objects live on the Lisp stack while a list is built.

inline void skip_space(const char*& p) {
  for (;;) {
    while (*p && std::isspace(static_cast<unsigned char>(*p))) p++;
    if (*p != ';') return;
    while (*p && *p != '\n') p++;
  }
}

inline bool delimiter(char c) {
  return !c || std::isspace(static_cast<unsigned char>(c)) || c == '(' || c == ')' || c == '\'';
}

Value read_form(const char*& p);

inline Value list2(Value a, Value b) {
  root_push(&a);
  Value tail = cons(b, NIL);
  root_pop();
  return cons(a, tail);
}

inline Value read_list(const char*& p) {
  ThreadState* ts = zvts;
  uint32_t top = ts->septr;
  Value tail = NIL;
  for (;;) {
    skip_space(p);
    if (*p == ')') {
      p++;
      break;
    }
    if (*p == '.' && delimiter(p[1])) {
      p++;
      tail = read_form(p);
      skip_space(p);
      if (*p == ')') p++;
      break;
    }
    Value x = read_form(p);
    push_arg(x);
  }
  root_push(&tail);
  for (uint32_t i = ts->septr; i < top; i++) tail = cons(ts->stack[i].arg, tail);
  root_pop();
  ts->septr = static_cast<uint16_t>(top);
  return tail;
}

inline Value read_form(const char*& p) {
  skip_space(p);
  if (*p == '(') {
    p++;
    return read_list(p);
  }
  if (*p == '\'') {
    p++;
    Value x = read_form(p);
    return list2(make_symbol(FS_QUOTE), x);
  }
  if (p[0] == '#' && p[1] == '\'') {
    p += 2;
    Value x = read_form(p);
    return list2(sym_intern_cstr("FUNCTION"), x);
  }
  if (*p == '"') {
    const char* s = ++p;
    while (*p && *p != '"') p++;
    Value str = mem_make_string(s, uint32_t(p - s));
    if (*p) p++;
    return str;
  }
  std::string tok;
  while (!delimiter(*p)) tok += char(std::toupper(static_cast<unsigned char>(*p++)));
  char* end = nullptr;
  long n = std::strtol(tok.c_str(), &end, 10);
  if (!tok.empty() && *end == 0 &&
      (std::isdigit(static_cast<unsigned char>(tok[0])) || tok.size() > 1))
    return make_fixnum(int32_t(n));
  if (tok[0] == ':') return make_keyword(symbol_index(sym_intern_cstr(tok.c_str() + 1)));
  if (tok == "NIL") return NIL;
  return sym_intern_cstr(tok.c_str());
}

inline Value form(const char* text) {
  const char* p = text;
  return read_form(p);
}

inline Value sym(const char* name) {
  std::string up;
  for (const char* c = name; *c; c++) up += char(std::toupper(static_cast<unsigned char>(*c)));
  return sym_intern_cstr(up.c_str());
}

inline uint32_t idx(const char* name) { return symbol_index(sym(name)); }

// Evaluate Lisp text.
inline Value ev(const char* text) { return eval_form(form(text)); }

// (name lambda-list . body) into name's function cell.
inline void defun(const char* text) {
  Value f = form(text);
  root_push(&f);
  Value lambda = cons(make_symbol(FS_LAMBDA), cdr(f));
  sym_set_function(symbol_index(car(f)), lambda);
  root_pop();
}

inline void defmacro(const char* text) {
  Value f = form(text);
  root_push(&f);
  Value m = cons(make_symbol(FS_MACRO), cdr(f));
  sym_set_function(symbol_index(car(f)), m);
  root_pop();
}

inline void defspecial(const char* name, Value value) {
  uint32_t s = idx(name);
  sym_set_flags(s, sym_flags(s) | 2);
  sym_set_value(s, value);
}

// A printed form of simple data, for comparisons.
inline std::string show(Value v) {
  v = (tag_of(v) == TAG_LEXREF || tag_of(v) == TAG_INDEX) ? make_symbol(v & 0xFFFF) : v;
  if (nil_p(v)) return "NIL";
  if (is_fixnum(v)) return std::to_string(fixnum_value(v));
  if (tag_of(v) == TAG_SYMBOL || tag_of(v) == TAG_KEYWORD) {
    Value n = sym_name(symbol_index(v));
    return (tag_of(v) == TAG_KEYWORD ? ":" : "") +
           std::string(reinterpret_cast<char*>(string_bytes(n)), string_length(n));
  }
  if (is_string(v))
    return "\"" + std::string(reinterpret_cast<char*>(string_bytes(v)), string_length(v)) + "\"";
  if (cons_p(v)) {
    std::string s = "(";
    for (;;) {
      s += show(car(v));
      v = cdr(v);
      if (!cons_p(v)) break;
      s += " ";
    }
    if (!nil_p(v)) s += " . " + show(v);
    return s + ")";
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "#<%08X>", v);
  return buf;
}

inline std::string show_values(Value first) {
  uint32_t n = mv_count();
  std::string s;
  for (uint32_t k = 0; k < n; k++) s += (k ? " " : "") + show(mv_value(first, k));
  return s;
}

// ---------------------------------------------------------------------------
// Test built-ins in the spare records 455..; the table is put back after
// each test.

constexpr uint32_t FIRST_SPARE = 455;

inline Value t_if(Value args, Value) {
  Value test = eval(args);
  // args may have moved: the eval frame holds the form.
  Value rest = cdr(cdr(stack_entry(zvts->zvform).arg));
  if (!nil_p(test)) return eval(rest);
  rest = cdr(rest);
  return cons_p(rest) ? eval(rest) : NIL;
}
inline Value t_setq(Value args, Value) {
  Value v = eval(cdr(args));
  Value cell = cdr(stack_entry(zvts->zvform).arg);
  assign_variable(car(cell), v, cell);
  return v;
}
inline uint32_t lowest_septr = 0xFFFF;
inline Value t_add(Value a, Value b) {
  if (zvts->septr < lowest_septr) lowest_septr = zvts->septr;
  return make_fixnum(fixnum_value(a) + fixnum_value(b));
}
inline Value t_sub(Value a, Value b) { return make_fixnum(fixnum_value(a) - fixnum_value(b)); }
inline Value t_less(Value a, Value b) { return bool_value(fixnum_value(a) < fixnum_value(b)); }
inline Value t_eq(Value a, Value b) { return bool_value(a == b); }
inline Value t_cons(Value a, Value b) { return cons(a, b); }
inline Value t_car(Value a, Value) { return cons_p(a) ? car(a) : NIL; }
inline Value t_list(Value, Value) { return args_to_list(zvts->septr, zvts->zvform); }
inline Value t_values(Value, Value) { return values_from_frame(); }
inline Value t_mvlist(Value args, Value) {
  Value v = eval(args);
  return values_list(v);
}
// (%T-KEYS required... &key :start :end :test :test-not) -> list of the
// keyword values seen through the slots.
inline Value t_keys(Value, Value) {
  static const uint8_t tests[] = {5, 6, 0};
  kw_parse(1, 9, 10, tests);
  Value v[4] = {kw_value(9), kw_value(10), kw_value(5), kw_value(6)};
  kw_clear();
  return set_values(4, v);
}
inline Value t_error(Value a, Value) { return lisp_error(E_WRONG_TYPE, a); }
inline Value t_unbound_error(Value a, Value) { return lisp_error(E_UNBOUND, a); }
inline Value t_hard_error(Value a, Value) { return lisp_error(E_BAD_TYPE, a); }
inline Value t_count_gc(Value, Value) {
  gc_full_collection();
  return NIL;
}

struct TestBuiltin {
  const char* name;
  BuiltinFn fn;
  uint8_t kind, count;
};
inline const TestBuiltin kTestBuiltins[] = {
    {"T-IF", t_if, 0, 0},         {"T-SETQ", t_setq, 0, 0},
    {"T+", t_add, 2, 2},          {"T-", t_sub, 2, 2},
    {"T<", t_less, 2, 2},         {"T-EQ", t_eq, 2, 2},
    {"T-CONS", t_cons, 2, 2},     {"T-CAR", t_car, 2, 1},
    {"T-LIST", t_list, 3, 0},     {"T-VALUES", t_values, 3, 0},
    {"T-MVLIST", t_mvlist, 0, 0}, {"T-KEYS", t_keys, 4, 1},
    {"T-ERROR", t_error, 2, 1},   {"T-UNBOUND", t_unbound_error, 2, 1},
    {"T-GC", t_count_gc, 2, 0},   {"T-HARD-ERROR", t_hard_error, 2, 1},
};

// Records each signalled code before the real signaller runs.
struct Signals {
  static inline ErrorFn real_error = nullptr;
  static inline WarnFn real_cerror = nullptr, real_warn = nullptr;
  static inline uint32_t last = 0;
  static inline int cerrors = 0, warnings = 0;
  static Value on_error(uint32_t c, const Value* o) {
    last = c;
    return real_error(c, o);
  }
  static void on_cerror(uint32_t c, const Value* o) {
    last = c;
    cerrors++;
    real_cerror(c, o);
  }
  static void on_warn(uint32_t c, const Value* o) {
    warnings++;
    real_warn(c, o);
  }
};

// Break loops in tests take their keys from this script: each entry is a
// key code, or 0 to read the form in `form` (one form per 0).
struct Script {
  static inline int keys[16] = {};
  static inline int n = 0, at = 0;
  static inline const char* forms[8] = {};
  static inline int form_at = 0;
  static inline int loops = 0;
  static int read_key(Value) {
    loops++;
    if (at >= n) return KEY_CONTINUE;  // keep going by default
    int k = keys[at++];
    return k ? k : 'x';
  }
  static void unread_key(Value, int) {}
  static Value read_form(Value) { return form(forms[form_at++]); }
  static void print_values(Value) {}
  static void set(std::initializer_list<int> ks) {
    n = 0;
    at = 0;
    form_at = 0;
    for (int k : ks) keys[n++] = k;
  }
};

class EvalTest : public ::testing::Test {
 protected:
  BuiltinRecord saved_[sizeof kTestBuiltins / sizeof kTestBuiltins[0]];
  ErrorFn old_error_ = nullptr;
  WarnFn old_warn_ = nullptr, old_cerror_ = nullptr;

  void SetUp() override {
    old_error_ = zv_error_fn;
    old_warn_ = zv_warn_fn;
    old_cerror_ = zv_cerror_fn;
    ASSERT_TRUE(gen_build_world("TEST.ROL")) << gen_error();
    eval_init();
    Signals::real_error = zv_error_fn;
    Signals::real_cerror = zv_cerror_fn;
    Signals::real_warn = zv_warn_fn;
    zv_error_fn = Signals::on_error;
    zv_cerror_fn = Signals::on_cerror;
    zv_warn_fn = Signals::on_warn;
    Signals::last = 0;
    Signals::cerrors = Signals::warnings = 0;
    zv_listener_io =
        ListenerIo{Script::read_key, Script::unread_key, Script::read_form, Script::print_values};
    Script::set({});
    Script::loops = 0;
    for (uint32_t k = 0; k < std::size(kTestBuiltins); k++) {
      const TestBuiltin& b = kTestBuiltins[k];
      saved_[k] = zv_builtins[FIRST_SPARE + k];
      zv_builtins[FIRST_SPARE + k] = BuiltinRecord{b.fn, b.kind, b.count};
      sym_set_function(idx(b.name), make_builtin(b.kind, FIRST_SPARE + k));
    }
    // Messages go to string streams the tests can read.
    Value out = make_string_output_stream();
    sym_set_value(FS_ERROR_OUTPUT, out);
    Value status = make_string_output_stream();
    sym_set_value(FS_STATUS_STREAM, status);
    gc_stress_init_from_env();
  }

  void TearDown() override {
    zv_gc_stress = 0;
    for (uint32_t k = 0; k < std::size(kTestBuiltins); k++)
      zv_builtins[FIRST_SPARE + k] = saved_[k];
    zv_listener_io = zv_default_listener_io;
    zv_error_fn = old_error_;
    zv_warn_fn = old_warn_;
    zv_cerror_fn = old_cerror_;
  }

  // What the error output received since the last call.
  std::string error_output() {
    Value s = string_output_contents(sym_value(FS_ERROR_OUTPUT));
    return std::string(reinterpret_cast<char*>(string_bytes(s)), string_length(s));
  }
};

// Evaluate under an error-catching context: returns the code of the error
// that ended the evaluation (0 when none) and the value in *out.
inline uint32_t catching(const char* text, Value* out = nullptr) {
  ThreadState* ts = zvts;
  uint16_t septr = ts->septr;
  Signals::last = 0;
  Context cx;
  context_push(&cx, CX_ERRCATCH);
  Value v = NIL;
  int code = setjmp(cx.resume);
  if (code == 0) v = ev(text);
  context_pop(&cx);
  EXPECT_EQ(zvts->septr, septr);
  if (out) *out = v;
  return code ? Signals::last : 0;
}

}  // namespace evaltest
