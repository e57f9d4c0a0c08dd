// The kernel under libFuzzer.  Program entry runs as for `zorva -ROL
// image`; the top-level driver is replaced by one that initialises the
// world as the real driver does and then hands control to libFuzzer's
// driver, on the same big native stack the real loop gets.
//
// Every input runs under a listener context.  Break loops are answered
// the way a user at the terminal would: the harness types (+ 1 2), read
// by the break loop's own reader, expects 3, and leaves the level.  After
// each input the thread must be back where it was (Lisp stack, roots,
// bindings, contexts, locks, break level), the reader's counters clean,
// and the listener must still read (+ 10 2) and evaluate it to 12, and
// refuse a comma outside a backquote.  A failed check aborts,
// and libFuzzer keeps the input.
#include "tests/fuzz/harness.h"

#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "builtins/hash_tables.h"
#include "eval/context.h"
#include "eval/eval.h"
#include "eval/hooks.h"
#include "eval/listener.h"
#include "eval/stack.h"
#include "image/driver.h"
#include "image/startup.h"
#include "io/stream.h"
#include "object/error_hook.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "text/reader.h"

extern "C" int LLVMFuzzerRunDriver(int* argc, char*** argv,
                                   int (*cb)(const uint8_t* data, size_t size));

namespace {

FuzzBody g_body = nullptr;
FuzzSetup g_setup = nullptr;
int g_argc = 0;
char** g_argv = nullptr;
char g_image[4096];

// ---------------------------------------------------------------------------
// Answering break loops

constexpr int kMaxLevels = 64;
bool answered[kMaxLevels];
int answering = 0;  // the level whose answer is being evaluated, 0 when none
const char* failure = nullptr;
bool answer_breaks = true;
// ZORVA_FUZZ_NO_READER_CHECKS in the environment turns off the checks of
// the reader's state (the answer in the break loop, the probes after each
// input), for runs that look for other faults while a reader fault is
// known.
bool reader_checks = true;

void note_failure(const char* what) {
  if (!failure) failure = what;
}

int answer_key(Value) {
  int level = zvts->break_level;
  if (level <= 0 || level >= kMaxLevels) {
    note_failure("break level out of range");
    return KEY_LEAVE_LEVEL;
  }
  if (answering && level > answering) {
    // The answer itself failed and opened a level of its own.
    if (reader_checks) note_failure("the break loop could not evaluate (+ 1 2)");
    return KEY_LEAVE_LEVEL;
  }
  if (!answer_breaks) return KEY_LEAVE_LEVEL;
  if (answering == level) {
    answering = 0;
    answered[level] = false;
    return KEY_LEAVE_LEVEL;
  }
  if (!answered[level]) {
    answered[level] = true;
    return '(';
  }
  answered[level] = false;
  return KEY_LEAVE_LEVEL;
}

void answer_unread(Value, int) {}

Value string_stream_of(const char* text) {
  Value s = mem_make_string(text, uint32_t(std::strlen(text)));
  return make_string_input_stream(s, 0, string_length(s));
}

Value answer_form(Value) {
  answering = zvts->break_level;
  // Through the reader exactly as the break loop reads the terminal.
  return zv_hooks.read_form(string_stream_of("(+ 1 2)"));
}

void answer_values(Value) {
  if (zvts->glvalue != make_fixnum(3) && reader_checks)
    note_failure("the break loop's (+ 1 2) did not give 3");
  answering = 0;
}

const ListenerIo kAnswerIo = {answer_key, answer_unread, answer_form, answer_values};

// ---------------------------------------------------------------------------
// The state that must come back after each input

struct Depths {
  uint16_t septr, zvdinenv, zvfdinenv, zvdincxt, zvunwindcxt, gltagcxt, zvform, zvlexenv,
      lexframe, break_level, listener_flag;
  uint32_t root_count, lock_depth[3];
};

Depths depths() {
  ThreadState* ts = zvts;
  return {ts->septr,        ts->zvdinenv,    ts->zvfdinenv,   ts->zvdincxt,
          ts->zvunwindcxt,  ts->gltagcxt,    ts->zvform,      ts->zvlexenv,
          ts->lexframe,     ts->break_level, ts->listener_flag, ts->root_count,
          {ts->lock_depth[0], ts->lock_depth[1], ts->lock_depth[2]}};
}

void compare(const Depths& a, const Depths& b) {
#define ZV_SAME(field)                                                     \
  if (a.field != b.field) {                                                \
    std::fprintf(stderr, "fuzz: %s is %u after the input, %u before\n", #field, \
                 unsigned(b.field), unsigned(a.field));                    \
    fuzz_fail("the thread's state did not come back");                     \
  }
  ZV_SAME(septr)
  ZV_SAME(zvdinenv)
  ZV_SAME(zvfdinenv)
  ZV_SAME(zvdincxt)
  ZV_SAME(zvunwindcxt)
  ZV_SAME(gltagcxt)
  ZV_SAME(zvform)
  ZV_SAME(zvlexenv)
  ZV_SAME(lexframe)
  ZV_SAME(break_level)
  ZV_SAME(listener_flag)
  ZV_SAME(root_count)
  ZV_SAME(lock_depth[0])
  ZV_SAME(lock_depth[1])
  ZV_SAME(lock_depth[2])
#undef ZV_SAME
}

// Run fn under a listener context of its own; true when it returned
// normally, false after a throw to the context.
bool under_listener(void (*fn)(void*), void* data) {
  Context cx;
  context_push(&cx, CX_LISTENER | CX_BLOCKLIKE | CX_LISTENER_DEBUG);
  volatile bool normal = false;
  if (setjmp(cx.resume) == 0) {
    fn(data);
    normal = true;
  }
  context_pop(&cx);
  return normal;
}

// The listener's own read, from a fresh string: what the user would type
// next.  A reader state left behind by the input shows here: a radix
// (10 not read as ten), a skip mode (+ not interned), a backquote depth
// (a lone comma accepted).
Value listener_read(const char* text) { return zv_hooks.read_form(string_stream_of(text)); }

void eval_probe(void* out) { *static_cast<Value*>(out) = eval_form(listener_read("(+ 10 2)")); }

void read_lone_comma(void*) {
  listener_read(",x");
  note_failure("a comma outside a backquote reads");
}

void check_reader_clean() {
  if (!reader_checks) return;
  Value v = NIL;
  root_push(&v);
  bool normal = under_listener(eval_probe, &v);
  root_pop();
  if (!normal || v != make_fixnum(12)) fuzz_fail("(+ 10 2) does not give 12 after the input");
  bool saved = answer_breaks;
  answer_breaks = false;
  if (under_listener(read_lone_comma, nullptr)) fuzz_fail("a comma outside a backquote reads");
  answer_breaks = saved;
}

struct Input {
  const uint8_t* data;
  size_t size;
};

// Labels of #n= hold across the kernel's own reads until redefined: each
// input starts without any, so that it does not depend on the inputs
// before it.
uint32_t labels_symbol = 0;

void run_body(void* p) {
  Input* in = static_cast<Input*>(p);
  ThreadState* ts = zvts;
  uint32_t limit = ts->septr;
  if (labels_symbol) bind_special(labels_symbol, NIL);
  g_body(in->data, in->size);
  unbind_to(limit);
  ts->septr = uint16_t(limit);
}

int one_input(const uint8_t* data, size_t size) {
  std::memset(answered, 0, sizeof answered);
  answering = 0;
  failure = nullptr;
  Depths before = depths();
  Input in{data, size};
  under_listener(run_body, &in);
  if (failure) fuzz_fail(failure);
  compare(before, depths());
  check_reader_clean();
  if (failure) fuzz_fail(failure);
  return 0;
}

// ---------------------------------------------------------------------------
// Set-up

// Input never runs programs: #. is taken out of the dispatch table.
void remove_read_eval() {
  Value table = syntax_entry('#') & 0x7FFFFFFFu;
  if (tag_of(table) == TAG_OBJECT && heap_type(table) == HT_HASH) ht_remove(table, make_char('.'));
}

void expect_read_error(void*) {
  Value s = string_stream_of("#.(+ 1 2)");
  read_from(s, true, NIL, false);
  note_failure("#. still reads");
}

// No input may end the session.
void session_ends(int code) {
  std::fprintf(stderr, "fuzz: the session ended with exit code %d\n", code);
  fuzz_fail("an input ended the session");
}

// Nor may it reach one of the kernel's fatal exits (the stack trace
// libFuzzer prints shows which).
void fatal_exit() { fuzz_fail("a fatal error ends the process"); }

void settle_world() {
  Value labels = sym_intern_cstr("%READ-LABELS");
  labels_symbol = is_symbol(labels) && symbol_index(labels) < zvm.sym_count ? symbol_index(labels) : 0;
  listener_exit_hook = session_ends;
  zv_fatal_hook = fatal_exit;
  remove_read_eval();
  zv_listener_io = kAnswerIo;
  failure = nullptr;
  under_listener(expect_read_error, nullptr);
  if (failure) fuzz_fail(failure);
}

int fuzz_on_stack(void*) {
  settle_world();
  if (g_setup) g_setup();
  return LLVMFuzzerRunDriver(&g_argc, &g_argv, one_input);
}

// The address sanitizer cleans the stack a non-local exit leaves only on
// stacks below 64 MiB; on a larger one the frames of a deep recursion
// stay poisoned after an error and later calls trip over them.  So the
// fuzzers run on a stack below that size: a deep recursion then meets
// the native-stack guard (error 38) before the Lisp stack runs out.
constexpr size_t kFuzzStack = size_t(60) << 20;

int fuzz_driver(int) {
  driver_init_once();
  size_t bytes = native_stack_bytes(zvts->stack_top);
  return run_on_big_stack(fuzz_on_stack, nullptr, bytes < kFuzzStack ? bytes : kFuzzStack);
}

}  // namespace

void fuzz_fail(const char* what) {
  std::fprintf(stderr, "\nfuzz: check failed: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

const char* fuzz_image_path() { return g_image; }

Value fuzz_string(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFF) size = 0xFFFFFF;
  return mem_make_string(reinterpret_cast<const char*>(data), uint32_t(size));
}

void fuzz_read_each(const uint8_t* data, size_t size, uint32_t limit, void (*fn)(Value obj)) {
  Value s = fuzz_string(data, size);
  Value stream = make_string_input_stream(s, 0, string_length(s));
  root_push(&stream);
  // End of input: a value the reader never gives for text.
  const Value eof = make_fixnum(-0x5EEEEE);
  for (uint32_t n = 0; n < limit; n++) {
    Value obj = read_from(stream, false, eof, false);
    if (obj == eof) break;
    fn(obj);
  }
  root_pop();
}

void fuzz_settle_world() {
  driver_setup_world();
  settle_world();
}

bool fuzz_guarded(void (*fn)(void* data), void* data) { return under_listener(fn, data); }

void fuzz_answer_breaks(bool on) { answer_breaks = on; }

int fuzz_main(int argc, char** argv, FuzzBody body, FuzzSetup setup) {
  g_body = body;
  g_setup = setup;
  g_argc = argc;
  g_argv = argv;
  const char* image = std::getenv("ZORVA_FUZZ_IMAGE");
  if (image && *image) {
    std::snprintf(g_image, sizeof g_image, "%s", image);
  } else {
    // zorva.ROL beside the executable.
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = 0;
    char* slash = std::strrchr(self, '/');
    if (slash) slash[1] = 0;
    std::snprintf(g_image, sizeof g_image, "%szorva.ROL", slash ? self : "");
  }
  reader_checks = std::getenv("ZORVA_FUZZ_NO_READER_CHECKS") == nullptr;
  zv_driver = fuzz_driver;
  char rol[] = "-ROL";
  char* kernel_argv[] = {argv[0], rol, g_image, nullptr};
  return zorva_main(3, kernel_argv);
}
