// Helpers for the tests of the list and set built-ins: a small notation
// for building data, a printer for comparing it, and calls of built-ins
// laid out on the Lisp stack as the evaluator lays them out.
//
// Everything under construction lives on the Lisp stack, so the helpers
// are safe under the collector's stress mode.
#pragma once

#include <cctype>
#include <cstdlib>
#include <string>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "world_fixture.h"

namespace listfx {

// Reads one datum: integers (fixnums or 64-bit), decimals (doubles),
// symbols (T is the symbol T), "strings", #(vectors) and lists with an
// optional dotted tail.  The result is pushed as one anonymous entry.
inline void read_push(const char*& p);

inline void skip_blanks(const char*& p) {
  while (*p == ' ' || *p == '\n') p++;
}

// Ballast: a cell allocated after every cell of the data and kept alive
// until a call starts.  Then it dies, leaving holes all through the
// arguments, so the first compaction inside the routine moves them and a
// cursor the routine forgot to root shows up under stress mode.
inline Value ballast = NIL;

// Conses the entries pushed since `mark` into a list ending in `tail` and
// leaves it as one entry in their place.
inline void cons_up(uint16_t mark, Value tail) {
  Value r = tail;
  root_push(&r);
  while (zvts->septr < mark) {
    r = cons(zvts->stack[zvts->septr].arg, r);
    ballast = cons(NIL, ballast);
    zvts->septr++;
  }
  root_pop(1);
  push_anon(r);
}

inline void read_list_push(const char*& p) {
  uint16_t mark = zvts->septr;
  p++;  // (
  for (;;) {
    skip_blanks(p);
    if (*p == ')') {
      p++;
      cons_up(mark, NIL);
      return;
    }
    if (*p == '.' && p[1] == ' ') {
      p++;
      read_push(p);
      Value tail = zvts->stack[zvts->septr++].arg;
      root_push(&tail);
      skip_blanks(p);
      p++;  // )
      cons_up(mark, tail);
      root_pop(1);
      return;
    }
    read_push(p);
  }
}

inline void read_vector_push(const char*& p) {
  uint16_t mark = zvts->septr;
  p += 2;  // #(
  for (skip_blanks(p); *p != ')'; skip_blanks(p)) read_push(p);
  p++;
  uint32_t n = mark - zvts->septr;
  Value v = mem_alloc_vector(n);
  for (uint32_t i = 0; i < n; i++) heap_set_word(v, i, zvts->stack[mark - 1 - i].arg);
  zvts->septr = mark;
  push_anon(v);
}

inline void read_push(const char*& p) {
  skip_blanks(p);
  if (*p == '(') return read_list_push(p);
  if (*p == '#' && p[1] == '(') return read_vector_push(p);
  if (*p == '"') {
    const char* s = ++p;
    while (*p != '"') p++;
    push_anon(mem_make_string(s, static_cast<uint32_t>(p - s)));
    p++;
    return;
  }
  const char* s = p;
  while (*p && *p != ' ' && *p != '(' && *p != ')' && *p != '\n') p++;
  std::string tok(s, p);
  char* end = nullptr;
  long long n = std::strtoll(tok.c_str(), &end, 10);
  if (*end == 0 && !tok.empty() && tok != "-" && tok != "+")
    return (void)push_anon(mem_make_integer(n));
  double d = std::strtod(tok.c_str(), &end);
  if (*end == 0 && tok.find('.') != std::string::npos) return (void)push_anon(mem_make_double(d));
  if (tok == "NIL") return (void)push_anon(NIL);
  if (tok == "T") return (void)push_anon(T);
  push_anon(sym_intern_cstr(tok.c_str()));
}

// A datum kept on the Lisp stack as an anonymous entry: every use reads
// the entry again, so it stays right when a collection moves the datum.
struct Ref {
  uint16_t i;
  operator Value() const { return zvts->stack[i].arg; }
};
inline Ref hold(Value v) {
  push_anon(v);
  return Ref{zvts->septr};
}
// A datum from its notation, held.
inline Ref push_datum(const char* text) {
  read_push(text);
  return Ref{zvts->septr};
}

// ---------------------------------------------------------------------------
// Printing for comparisons.  Long or circular lists are cut at 2000 cells.

inline std::string show(Value v) {
  switch (tag_of(v)) {
    case TAG_CONS: {
      if (nil_p(v)) return "NIL";
      std::string s = "(";
      int n = 0;
      for (;;) {
        s += show(car(v));
        v = cdr(v);
        if (++n > 2000) return s + " ...)";
        if (nil_p(v)) return s + ")";
        if (!cons_p(v)) return s + " . " + show(v) + ")";
        s += " ";
      }
    }
    case TAG_SYMBOL: {
      if (v == T) return "T";
      Value name = sym_name(symbol_index(v));
      return std::string(reinterpret_cast<const char*>(string_bytes(name)), string_length(name));
    }
    case TAG_FIXNUM:
      return std::to_string(fixnum_value(v));
    case TAG_INT64:
      return std::to_string(int64_value(v));
    case TAG_DOUBLE: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%g", double_value(v));
      return buf;
    }
    case TAG_CHAR:
      return std::string("#\\") + static_cast<char>(v & 0xFF);
    case TAG_VECTOR:
      if (is_string_raw(v))
        return "\"" +
               std::string(reinterpret_cast<const char*>(string_bytes(v)), string_length(v)) + "\"";
      else {
        std::string s = "#(";
        for (uint32_t i = 0; i < heap_length(v); i++) s += (i ? " " : "") + show(heap_word(v, i));
        return s + ")";
      }
    default: {
      char buf[20];
      std::snprintf(buf, sizeof buf, "#<%08X>", v);
      return buf;
    }
  }
}

// ---------------------------------------------------------------------------
// Calls.  A call frame, then the positional arguments, then keyword
// entries tagged with their numbers; run() calls the routine by the entry
// convention and pops the frame.

struct Call {
  uint32_t n;
  explicit Call(uint32_t number) : n(number) { push_frame(bi_value(number), ST_CALL_FRAME); }
  Call& a(Value v) {
    push_arg(v);
    return *this;
  }
  Call& a(Ref r) { return a(Value(r)); }
  Call& a(const char* text) {
    read_push(text);
    zvts->stack[zvts->septr].tag = ST_ARG;
    return *this;
  }
  Call& kw(uint16_t k, Value v) {
    push_entry(v, k);
    return *this;
  }
  Value run() {
    const BuiltinRecord& r = zv_builtins[n];
    zvts->current_builtin = static_cast<uint16_t>(n);
    zvts->mv_count = 1;
    ballast = NIL;
    Value a1 = r.count >= 1 && r.count <= 2 ? arg(1) : NIL;
    Value a2 = r.count == 2 ? arg(2) : NIL;
    Value v = r.fn(a1, a2);
    pop_frame();
    return v;
  }
};

// The error code a body signalled (0 for none), with the Lisp stack put
// back where it was, as the non-local exit of the signaller would.
#define LIST_ERROR(body)                              \
  ([&]() -> uint32_t {                                \
    uint16_t sp_ = zvts->septr, form_ = zvts->zvform; \
    uint32_t code_ = TRAP_ERROR(body);                \
    zvts->septr = sp_;                                \
    zvts->zvform = form_;                             \
    return code_;                                     \
  }())

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override { start(WorldParams(), true); }
  void start(const WorldParams& p, bool stress) {
    test_world_init(p);
    ErrorTrap::install();
    ErrorTrap::target = nullptr;
    ballast = NIL;
    root_push(&ballast);
    if (stress) gc_stress_init_from_env();  // ZORVA_GC_STRESS=N checks the roots here
  }
  void TearDown() override {
    zv_gc_stress = 0;
    EXPECT_EQ(zvts->root_count, 1u);
    root_pop(1);
  }
  // The printed result of built-in n on the given arguments.
  static std::string run(uint32_t n, const char* a1) { return show(Call(n).a(a1).run()); }
  static std::string run(uint32_t n, const char* a1, const char* a2) {
    return show(Call(n).a(a1).a(a2).run());
  }
  static std::string run(uint32_t n, const char* a1, const char* a2, const char* a3) {
    return show(Call(n).a(a1).a(a2).a(a3).run());
  }
};

}  // namespace listfx
