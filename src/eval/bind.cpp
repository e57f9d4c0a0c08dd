// Binding: lambda lists (annotated in place), closures and the capture of
// lexical environments, macro expansion, and the keyword arguments of
// kind-4 built-ins.
//
// Argument entries become their parameters' bindings where they lie; only
// &REST lists and captured environments allocate.  Symbols and list cells
// may move in any allocation, so the binder re-reads the lambda list from
// its rooted cursor after every step that can allocate or signal.
#include "builtins/table.h"
#include "eval/context.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace {

inline bool symbol_tag(uint32_t t) { return t == TAG_SYMBOL || t == TAG_INDEX || t == TAG_LEXREF; }

constexpr Value CONSUMED_KEY = TAG_KEYWORD << 24;  // keyword Value 0

// The lambda-list keyword an element names (0x2A..0x31), or 0.
inline uint32_t ll_keyword(Value v) {
  uint32_t t = tag_of(v);
  if (t != TAG_SYMBOL && t != TAG_INDEX) return 0;
  uint32_t s = symbol_index(v);
  return s >= FS_LK_ALLOW_OTHER_KEYS && s <= FS_LK_WHOLE ? s : 0;
}

// A parameter: a symbol, a lexically annotated one, or one marked for a
// dynamic binding (tag 2, which otherwise marks lambda-list keywords).
inline bool is_var(Value v) {
  uint32_t t = tag_of(v);
  if (t == TAG_INDEX) return !ll_keyword(v);
  return (t == TAG_SYMBOL || t == TAG_LEXREF) && !nil_p(v);
}

inline Value dynamic_mark(Value sym) { return (TAG_INDEX << 24) | symbol_index(sym); }

// Make the entry at i a binding of symbol s in place.
void bind_entry(uint32_t s, uint32_t i, bool lexical) {
  ThreadState* ts = zvts;
  StackEntry& e = stack_entry(i);
  e.tag = static_cast<uint16_t>(s);
  if (lexical) {
    // The first binding of an empty environment begins a new one, inside
    // the innermost frame.
    if (!ts->zvlexenv) ts->lexframe = ts->zvform ? ts->zvform : static_cast<uint16_t>(i + 1);
    e.link = ts->zvlexenv;
    ts->zvlexenv = static_cast<uint16_t>(i);
  } else {
    e.arg = special_exchange(s, e.arg);
    e.link = ts->zvdinenv;
    ts->zvdinenv = static_cast<uint16_t>(i);
  }
}

// Is there a lexical binding of symbol index s in the current lexical
// environment, as the evaluator would find it?
bool lexically_visible(uint32_t s) {
  ThreadState* ts = zvts;
  uint32_t i = ts->zvlexenv;
  while (i && !(stack_entry(i).tag & 0x8000)) {
    if (ts->stack[i].tag == s) return true;
    i = ts->stack[i].link;
  }
  if (!i || ts->stack[i].tag != ST_CLOSURE_ENV) return false;
  for (Value env = ts->stack[i].arg; cons_p(env); env = cdr(env))
    if (cons_p(car(env)) && symbol_index(car(car(env))) == s) return true;
  return false;
}

// A variable just bound dynamically by a declaration must not be found
// in an enclosing lexical binding of its name.  The lexical environment
// is captured (its variables move into shared pairs, as for a closure)
// and continued by a lexical-environment entry holding every pair but
// those of s: the lookup of s then ends at the value cell.  This costs
// an allocation per binding, and only where a name is bound both ways.
void hide_lexical(uint32_t s) {
  ThreadState* ts = zvts;
  Value env = capture_environment();
  Value kept = NIL;
  root_push(&env);
  root_push(&kept);
  for (; cons_p(env); env = cdr(env))
    if (!cons_p(car(env)) || symbol_index(car(car(env))) != s) kept = cons(car(env), kept);
  root_pop(2);
  // Back in order: of two pairs of one name the inner comes first.
  uint16_t e = push_entry(nreverse_list(kept), ST_CLOSURE_ENV, 0);
  ts->zvlexenv = e;
}

// ---------------------------------------------------------------------------
// Parameter specifications: var, (var [init [svar]]) or, for keys,
// ((keyword var) [init [svar]]).

struct Param {
  Value var;        // the parameter symbol (tag 1 or 4), or a list to destructure
  Value var_cell;   // the cons whose car is var (annotated in place)
  Value init_cell;  // the cons whose car is the init form, or NIL
  Value svar;       // supplied-p symbol, or NIL
  Value key;        // keyword Value for &KEY parameters
  bool ok;
};

Param parse_param(Value p, bool is_key, bool destructure) {
  Param r{NIL, NIL, NIL, NIL, NIL, false};
  Value e = car_published(p);
  if (is_var(e)) {
    r.var = e;
    r.var_cell = p;
  } else if (cons_p(e)) {
    Value head = car_published(e);
    if (is_var(head) || (destructure && cons_p(head) && !is_key)) {
      r.var = head;
      r.var_cell = e;
    } else if (is_key && cons_p(head) && tag_of(car(head)) == TAG_KEYWORD && cons_p(cdr(head)) &&
               is_var(car_published(cdr(head)))) {
      r.key = car(head);
      r.var = car_published(cdr(head));
      r.var_cell = cdr(head);
    } else {
      return r;
    }
    Value rest = cdr(e);
    if (cons_p(rest)) {
      r.init_cell = rest;
      Value more = cdr(rest);
      if (cons_p(more)) {
        if (!is_var(car(more))) return r;
        r.svar = car(more);
      }
    }
  } else {
    return r;
  }
  if (is_key && nil_p(r.key)) r.key = make_keyword(symbol_index(r.var));
  r.ok = true;
  return r;
}

Value init_value(Value init_cell) { return nil_p(init_cell) ? NIL : eval(init_cell); }

enum State { REQUIRED, OPTIONAL, KEYS, AUX, DONE };

struct Binder {
  uint32_t lo;       // lowest argument index
  uint32_t cursor;   // arguments from cursor - 1 down to lo are unused
  uint32_t key_top;  // arguments from key_top - 1 down to lo are key pairs
  bool macro;
  bool rest;
  bool keys;
  bool allow_other;
  bool keys_checked;
  Value env;  // for &ENVIRONMENT
};

bool bind_params(Value ll, uint32_t hi, uint32_t lo, bool macro, Value env);

// The error for a malformed element ends the binding.
bool malformed(Value element) {
  zvts->glvalue = lisp_error(E_LAMBDA_LIST, element);
  return true;
}

// Destructure the value at argument entry i against a nested lambda list
// (macros only).
bool destructure(Value sub, uint32_t i, Binder* b) {
  ThreadState* ts = zvts;
  Value list = stack_entry(i).arg;
  if (!is_list(list)) return malformed(list);
  root_push(&sub);
  uint32_t top = ts->septr;
  spread_list(list);
  bool failed = bind_params(sub, top, ts->septr, true, b->env);
  root_pop();
  return failed;
}

// Whether the call allows other keys: its leftmost :ALLOW-OTHER-KEYS pair
// has a true value.  Looked at before any pair is consumed.
bool call_allows_other_keys(Binder* b) {
  ThreadState* ts = zvts;
  Value aok = make_keyword(FS_ALLOW_OTHER_KEYS);
  for (uint32_t i = b->key_top; i > b->lo; i -= 2) {
    if (ts->stack[i - 1].arg == aok) return i - 1 > b->lo && !nil_p(ts->stack[i - 2].arg);
    if (i - 1 == b->lo) break;
  }
  return false;
}

// Every key pair not consumed by a &KEY parameter is reported once;
// :ALLOW-OTHER-KEYS itself is always allowed.
void check_other_keys(Binder* b) {
  ThreadState* ts = zvts;
  b->keys_checked = true;
  if (b->allow_other) return;
  Value aok = make_keyword(FS_ALLOW_OTHER_KEYS);
  for (uint32_t i = b->key_top; i > b->lo; i -= 2) {
    Value key = ts->stack[i - 1].arg;
    if (key != CONSUMED_KEY && key != aok) lisp_cerror(MSG_CONT_IGNORE_KEY, E_BAD_KEYWORD, key);
    if (i - 1 == b->lo) break;
  }
}

// Find the pair for keyword `key` among the key arguments; returns the
// index of its value entry, or 0.  Later pairs of the same keyword are
// consumed too: the leftmost value wins and the others are no error.
uint32_t find_key(Binder* b, Value key) {
  ThreadState* ts = zvts;
  uint32_t found = 0;
  uint32_t s = symbol_index(key);
  for (uint32_t i = b->key_top; i > b->lo; i -= 2) {
    StackEntry& k = ts->stack[i - 1];
    if (k.arg != CONSUMED_KEY && symbol_index(k.arg) == s) {
      if (tag_of(k.arg) != TAG_KEYWORD) {
        Value bad = k.arg;
        k.arg = CONSUMED_KEY;
        lisp_cerror(MSG_CONT_IGNORE_KEY, E_BAD_KEYWORD, bad);
      } else if (i - 1 == b->lo) {
        Value bad = k.arg;
        k.arg = CONSUMED_KEY;
        lisp_cerror(MSG_CONT_IGNORE_KEY, E_KEY_NO_VALUE, bad);
      } else {
        k.arg = CONSUMED_KEY;
        if (!found) found = i - 2;
      }
    }
    if (i - 1 == b->lo) break;
  }
  return found;
}

// One parameter in the OPTIONAL or KEYS state.  p is the rooted cursor.
bool bind_optional(Value* p, Binder* b, bool is_key) {
  Param pr = parse_param(*p, is_key, b->macro);
  if (!pr.ok) return malformed(car(*p));
  uint32_t at = 0;
  if (is_key) {
    at = find_key(b, pr.key);
    pr = parse_param(*p, is_key, b->macro);  // a report may have moved things
  } else if (b->cursor > b->lo) {
    at = --b->cursor;
  }
  bool given = at != 0;
  if (given) {
    if (cons_p(pr.var)) {
      if (destructure(pr.var, at, b)) return true;
    } else {
      bind_argument(pr.var, at, pr.var_cell);
    }
  } else {
    Value v = init_value(pr.init_cell);
    pr = parse_param(*p, is_key, b->macro);
    if (cons_p(pr.var)) {
      push_arg(v);
      if (destructure(pr.var, zvts->septr, b)) return true;
    } else {
      uint16_t i = push_arg(v);
      bind_argument(pr.var, i, pr.var_cell);
    }
  }
  pr = parse_param(*p, is_key, b->macro);
  if (!nil_p(pr.svar)) bind_variable(pr.svar, bool_value(given));
  return false;
}

bool bind_aux(Value* p) {
  Value e = car(*p);
  if (is_var(e)) {
    bind_variable(e, NIL);
    return false;
  }
  if (!cons_p(e) || !is_var(car(e))) return malformed(e);
  Value v = init_value(cdr(e));
  uint16_t i = push_arg(v);
  e = car(*p);
  bind_argument(car(e), i, e);
  return false;
}

// A symbol after &REST, &BODY, &WHOLE or &ENVIRONMENT; advances *p.
bool next_symbol(Value* p, Value* sym) {
  Value kw = car(*p);
  *p = cdr(*p);
  if (!cons_p(*p) || !is_var(car(*p))) return malformed(kw);
  *sym = car(*p);
  return false;
}

bool bind_params(Value ll, uint32_t hi, uint32_t lo, bool macro, Value env) {
  ThreadState* ts = zvts;
  Binder b{lo, hi, hi, macro, false, false, false, false, env};
  Value p = ll;
  root_push(&p);
  root_push(&b.env);
  State state = REQUIRED;
  bool failed = false;
  for (; !failed && cons_p(p); p = cdr(p)) {
    Value e = car_published(p);
    if (uint32_t kw = ll_keyword(e)) {
      if (tag_of(e) == TAG_SYMBOL) set_car_published(p, (TAG_INDEX << 24) | kw);  // known as a keyword
      if (state == KEYS && kw != FS_LK_ALLOW_OTHER_KEYS) check_other_keys(&b);
      Value sym = NIL;
      switch (kw) {
        case FS_LK_OPTIONAL:
          state = OPTIONAL;
          break;
        case FS_LK_REST:
        case FS_LK_BODY: {
          if (next_symbol(&p, &sym)) {
            failed = true;
            break;
          }
          Value list = args_to_list(lo, b.cursor);
          bind_variable(car(p), list);
          b.rest = true;
          break;
        }
        case FS_LK_KEY:
          state = KEYS;
          b.keys = true;
          b.key_top = b.cursor;
          if (call_allows_other_keys(&b)) b.allow_other = true;
          break;
        case FS_LK_ALLOW_OTHER_KEYS:
          b.allow_other = true;
          break;
        case FS_LK_AUX:
          state = AUX;
          break;
        case FS_LK_WHOLE:
        case FS_LK_ENVIRONMENT:
          if (!macro || next_symbol(&p, &sym)) {
            failed = macro ? true : malformed(e);
            break;
          }
          if (kw == FS_LK_ENVIRONMENT) {
            bind_variable(car(p), b.env);
          } else {
            // Only an inner list can have &WHOLE here: its whole is the
            // list being destructured, i.e. all its arguments.
            Value whole = args_to_list(lo, hi);
            bind_variable(car(p), whole);
          }
          break;
      }
      continue;
    }
    switch (state) {
      case REQUIRED:
        if (!is_var(e) && !(macro && cons_p(e))) {
          failed = malformed(e);
          break;
        }
        if (b.cursor <= lo) {
          ts->glvalue = lisp_error(E_FEW_ARGS);
          failed = true;
          break;
        }
        --b.cursor;
        if (cons_p(e))
          failed = destructure(e, b.cursor, &b);
        else
          bind_argument(e, b.cursor, p);
        break;
      case OPTIONAL:
        failed = bind_optional(&p, &b, false);
        break;
      case KEYS:
        failed = bind_optional(&p, &b, true);
        break;
      case AUX:
        failed = bind_aux(&p);
        break;
      case DONE:
        break;
    }
  }
  // A dotted macro lambda list: the tail symbol takes the rest.
  if (!failed && macro && is_var(p)) {
    Value list = args_to_list(lo, b.cursor);
    bind_variable(p, list);
    b.rest = true;
  }
  if (!failed && b.keys && !b.keys_checked) check_other_keys(&b);
  if (!failed && !b.rest && !b.keys && b.cursor > lo)
    lisp_cerror(MSG_CONT_IGNORE_ARG, E_MANY_ARGS, stack_entry(b.cursor - 1).arg);
  root_pop(2);
  return failed;
}

}  // namespace

bool bind_lambda_list(Value lambda_list, uint32_t lo) {
  return bind_params(lambda_list, zvts->zvform, lo, false, NIL);
}

void bind_argument(Value sym, uint32_t index, Value cell) {
  uint32_t s = symbol_index(sym);
  if (tag_of(sym) == TAG_LEXREF) {
    bind_entry(s, index, true);
    return;
  }
  uint16_t flags = sym_flags(s);
  if (flags & SYMF_CONSTANT) {
    stack_entry(index).tag = ST_ANON;
    lisp_cerror(MSG_CONT_UNCHANGED, E_BIND_CONSTANT, sym);
    return;
  }
  if (flags & SYMF_SPECIAL) {
    bind_entry(s, index, false);
    return;
  }
  // Declared special where it is bound (tag 2).
  if (tag_of(sym) == TAG_INDEX) {
    bind_entry(s, index, false);
    if (lexically_visible(s)) hide_lexical(s);
    return;
  }
  bind_entry(s, index, true);
  if (cons_p(cell) && car_published(cell) == sym) set_car_published(cell, make_lexref(0, s));
}

void bind_variable(Value sym, Value value) {
  uint16_t i = push_arg(value);
  bind_argument(sym, i, NIL);
}

void bind_pushed(uint32_t index) {
  ThreadState* ts = zvts;
  for (uint32_t i = index; i-- > ts->septr;) {
    const StackEntry& e = ts->stack[i];
    if (e.tag == ST_ANON || e.tag == ST_ARG || e.tag >= 0x8000) continue;
    Value sym = make_symbol(e.tag);
    bind_argument(e.link == LINK_DYNAMIC ? dynamic_mark(sym) : sym, i, NIL);
  }
}

// ---------------------------------------------------------------------------
// Declarations

namespace {

// Is symbol index s named by a SPECIAL declaration at the head of body?
bool declared_special(Value body, uint32_t s) {
  for (; cons_p(body); body = cdr(body)) {
    Value d = car(body);
    if (!cons_p(d) || car(d) != make_symbol(FS_DECLARE)) return false;
    for (Value specs = cdr(d); cons_p(specs); specs = cdr(specs)) {
      Value spec = car(specs);
      if (!cons_p(spec) || symbol_normal(car(spec)) != make_symbol(FS_SPECIAL)) continue;
      for (Value vars = cdr(spec); cons_p(vars); vars = cdr(vars)) {
        Value v = car(vars);
        if (is_var(v) && symbol_index(v) == s) return true;
      }
    }
  }
  return false;
}

// Mark the variable in the car of `cell` when it is declared special.
void mark_cell(Value body, Value cell) {
  Value v = car_published(cell);
  if (is_var(v) && tag_of(v) != TAG_INDEX && declared_special(body, symbol_index(v)))
    set_car_published(cell, dynamic_mark(v));
}

void mark_lambda_list(Value body, Value ll, bool macro) {
  State state = REQUIRED;
  for (; cons_p(ll); ll = cdr(ll)) {
    Value e = car(ll);
    switch (ll_keyword(e)) {
      case 0:
        break;
      case FS_LK_OPTIONAL:
        state = OPTIONAL;
        continue;
      case FS_LK_KEY:
        state = KEYS;
        continue;
      case FS_LK_AUX:
        state = AUX;
        continue;
      default:  // &REST, &BODY, &WHOLE, &ENVIRONMENT: a variable follows
        continue;
    }
    if (is_var(e)) {
      mark_cell(body, ll);
    } else if (cons_p(e)) {
      if (state == REQUIRED) {
        if (macro) mark_lambda_list(body, e, true);
        continue;
      }
      Value head = car(e);
      if (cons_p(head) && state == KEYS && cons_p(cdr(head)))
        mark_cell(body, cdr(head));  // ((keyword var) ...)
      else if (cons_p(head) && macro)
        mark_lambda_list(body, head, true);
      else
        mark_cell(body, e);
      Value rest = cdr(e);
      if (cons_p(rest) && cons_p(cdr(rest))) mark_cell(body, cdr(rest));  // supplied-p
    }
  }
}

}  // namespace

void mark_declared_specials(Value body, bool doc, Value vars, DeclaredVariables shape) {
  if (doc && cons_p(body) && is_string(car(body))) body = cdr(body);
  if (!starts_with_declare(body)) return;
  switch (shape) {
    case DECL_LAMBDA:
    case DECL_MACRO:
      mark_lambda_list(body, vars, shape == DECL_MACRO);
      break;
    case DECL_BINDINGS:
    case DECL_VARIABLES:
      for (; cons_p(vars); vars = cdr(vars)) {
        Value e = car(vars);
        mark_cell(body, shape == DECL_BINDINGS && cons_p(e) ? e : vars);
      }
      break;
    case DECL_FIRST:
      if (cons_p(vars)) mark_cell(body, vars);
      break;
  }
}

// ---------------------------------------------------------------------------
// Closures

Value capture_environment() {
  ThreadState* ts = zvts;
  uint32_t i = ts->zvlexenv;
  if (!i) return NIL;
  uint32_t prev = 0;
  while (i && !(stack_entry(i).tag & 0x8000)) {
    StackEntry& e = ts->stack[i];
    Value pair = cons(make_symbol(e.tag), e.arg);
    Value cell = cons(pair, NIL);
    StackEntry& f = ts->stack[i];  // the same entry; no pointer is kept
    f.arg = cell;
    f.tag = ST_CLOSURE_ENV;
    if (prev) set_cdr(ts->stack[prev].arg, cell);
    prev = i;
    i = f.link;
  }
  if (prev && i && ts->stack[i].tag == ST_CLOSURE_ENV)
    set_cdr(ts->stack[prev].arg, ts->stack[i].arg);
  StackEntry& head = ts->stack[ts->zvlexenv];
  return head.tag == ST_CLOSURE_ENV ? head.arg : NIL;
}

Value make_closure(Value lambda) {
  root_push(&lambda);
  Value env = capture_environment();
  Value tail = cons(env, lambda);
  root_pop();
  return cons(make_symbol(FS_LEXICAL_CLOSURE), tail);
}

// ---------------------------------------------------------------------------
// Macro expansion

namespace {

// Does a macro lambda list, or one nested in it, name &ENVIRONMENT?
bool mentions_environment(Value ll) {
  for (; cons_p(ll); ll = cdr(ll)) {
    Value e = car(ll);
    if (ll_keyword(e) == FS_LK_ENVIRONMENT) return true;
    if (cons_p(e) && mentions_environment(e)) return true;
  }
  return false;
}

}  // namespace

Value expand_macro(Value definition, Value form, Value env) {
  ThreadState* ts = zvts;
  if (!cons_p(definition)) return lisp_error(E_UNDEFINED, cons_p(form) ? car(form) : form);
  root_push(&definition);
  root_push(&form);
  root_push(&env);
  LexState saved = lexenv_save();
  // Capturing rewrites the caller's bindings into shared pairs: only for
  // a macro that asks for its environment.
  if (env == NO_VALUE) env = mentions_environment(car(definition)) ? capture_environment() : NIL;
  uint16_t frame = push_frame(definition, ST_CALL_FRAME);
  lexenv_enter(0, frame);
  Value ll = car(definition);
  root_push(&ll);
  bool failed = false;
  if (cons_p(ll) && ll_keyword(car_published(ll)) == FS_LK_WHOLE) {
    set_car_published(ll, (TAG_INDEX << 24) | FS_LK_WHOLE);
    Value rest = cdr(ll);
    if (!cons_p(rest) || !is_var(car(rest))) {
      failed = malformed(car(ll));
    } else {
      bind_variable(car(rest), form);
      ll = cdr(rest);
    }
  }
  if (!failed) {
    note_function_declarations(cdr(definition), ll, true);
    uint32_t top = ts->septr;
    spread_list(cons_p(form) ? cdr(form) : NIL);
    failed = bind_params(ll, top, ts->septr, true, env);
  }
  Value v = failed ? ts->glvalue : progn(cdr(definition));
  unbind_to(frame);
  root_pop(4);
  ts->zvform = ts->stack[frame].link;
  ts->septr = static_cast<uint16_t>(frame + 1);
  lexenv_restore(saved);
  // The body's values stay below the popped frame for a caller that wants
  // them all (a place expander delivers five); nothing is pushed on the
  // way out.
  if (failed) ts->mv_count = 1;
  return v;
}

// ---------------------------------------------------------------------------
// Keyword arguments of kind-4 built-ins

namespace {

bool accepted_number(uint32_t k, uint32_t lo, uint32_t hi, const uint8_t* list) {
  if (k >= lo && k <= hi) return true;
  for (; list && *list; list++)
    if (*list == k) return true;
  return false;
}

// Required arguments carry tag 0x22, so the whole frame can be scanned.
void fill_slots() {
  ThreadState* ts = zvts;
  for (uint16_t& k : ts->kwslots) k = 0;
  // Newest to oldest, so the leftmost occurrence is written last and wins.
  for (uint32_t i = ts->septr; i < ts->zvform; i++) {
    uint16_t tag = ts->stack[i].tag;
    if (tag && tag < KEYWORD_SLOTS) ts->kwslots[tag] = static_cast<uint16_t>(i);
  }
}

}  // namespace

// The keywords no built-in takes come as untagged pairs (key, value),
// oldest first.  The leftmost :ALLOW-OTHER-KEYS pair with a true value
// lets the call give keywords the built-in does not take; they are then
// ignored, and otherwise reported.  :ALLOW-OTHER-KEYS itself is always
// allowed.
bool other_keys_allowed(uint32_t first) {
  ThreadState* ts = zvts;
  Value aok = make_keyword(FS_ALLOW_OTHER_KEYS);
  for (uint32_t i = first; i > ts->septr && i > 0; i--) {
    if (ts->stack[i].tag != 0) continue;
    if (ts->stack[i].arg == aok) return !nil_p(ts->stack[i - 1].arg);
    i--;  // skip the value
  }
  return false;
}

void kw_parse(uint32_t required, uint32_t lo, uint32_t hi, const uint8_t* accepted) {
  ThreadState* ts = zvts;
  uint32_t first = ts->zvform - required - 1;
  bool allowed = other_keys_allowed(first);
  for (uint32_t i = first; i >= ts->septr && i > 0; i--) {
    uint16_t tag = ts->stack[i].tag;
    if (tag == 0) {
      // An untagged pair: its key, then its value one entry lower.
      Value key = ts->stack[i].arg;
      if (i > ts->septr) i--;
      if (!allowed && key != make_keyword(FS_ALLOW_OTHER_KEYS))
        lisp_cerror(MSG_CONT_IGNORE_KEY, E_BAD_KEYWORD, key);
      continue;
    }
    if (tag >= KEYWORD_SLOTS) continue;
    if (!accepted_number(tag, lo, hi, accepted)) {
      ts->stack[i].tag = 0;
      ts->stack[i].arg = NIL;
      if (!allowed) lisp_cerror(MSG_CONT_IGNORE_KEY, E_BAD_KEYWORD, make_keyword(tag));
    }
  }
  fill_slots();
  kw_exclusive(5, 6);
}

void kw_exclusive(uint32_t a, uint32_t b) {
  ThreadState* ts = zvts;
  uint16_t ia = ts->kwslots[a], ib = ts->kwslots[b];
  if (!ia || !ib) return;
  // The keyword given later lies at the smaller index; all its
  // occurrences are dropped.
  uint32_t later = ia < ib ? a : b;
  for (uint32_t i = ts->septr; i < ts->zvform; i++)
    if (ts->stack[i].tag == later) ts->stack[i].tag = 0;
  Value both[2] = {make_keyword(a), make_keyword(b)};
  lisp_cerror(MSG_CONT_IGNORE_KEY, E_KEY_PAIR, both);
  fill_slots();  // the signaller cleared them
}

void kw_clear() {
  for (uint16_t& k : zvts->kwslots) k = 0;
}

void check_bounds(Value start, Value end, uint32_t len, uint32_t* s, uint32_t* e) {
  int32_t st = 0;
  if (!nil_p(start)) {
    if (!is_fixnum(start) || fixnum_value(start) < 0 || uint32_t(fixnum_value(start)) > len)
      lisp_fatal_error(E_BAD_TYPE, start);
    st = fixnum_value(start);
  }
  uint32_t en = len;
  if (!nil_p(end)) {
    if (!is_fixnum(end)) lisp_fatal_error(E_BAD_TYPE, end);
    int32_t x = fixnum_value(end);
    if (x < st) {
      Value both[2] = {start, end};
      lisp_error(E_BOUNDS, both);
      lisp_fatal_error(E_BOUNDS, start);
    }
    if (uint32_t(x) > len) lisp_fatal_error(E_BAD_TYPE, end);
    en = uint32_t(x);
  }
  *s = uint32_t(st);
  *e = en;
}
