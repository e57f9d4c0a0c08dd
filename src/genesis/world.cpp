// Building the first world, step by step.
//
// The order matters: the fixed class objects must be the first heap
// objects, and everything the static prefix holds must be in place before
// the prefix is sealed.  Until then no collection may run (the prefix is
// not yet declared), so the collector's stress mode is held off.
#include "genesis/world.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/stack.h"
#include "genesis/builtin_names.h"
#include "genesis/fixed_symbols.h"
#include "genesis/messages.h"
#include "genesis/roots.h"
#include "genesis/static_heap.h"
#include "image/driver.h"
#include "image/startup.h"
#include "io/console.h"
#include "io/stream.h"
#include "object/gc.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "text/reader.h"

namespace {

char failure[512] = "";

constexpr int32_t RIGHT_MARGIN = 79;
constexpr int32_t MESSAGE_PRINT_LENGTH = 20;
constexpr int32_t MESSAGE_PRINT_LEVEL = 6;
const char* const PROMPT = "> ";
const char* const FEATURES[] = {"ZORVA", "COMMON-LISP", "CLOS"};

// Functions the kernel calls through a fixed symbol, by built-in number.
struct RoleFunction {
  uint16_t symbol;
  uint16_t builtin;
};
const RoleFunction role_functions[] = {
    {FS_APPLY, BI_APPLY},
    {FS_CLOSE, BI_CLOSE},
    {FS_KEYBOARD_INTERRUPT, BI_KEYBOARD_INTERRUPT},
    {FS_EQL, BI_EQL},
    {FS_EVAL, BI_EVAL},
    {FS_LOAD, BI_LOAD},
    {FS_MACROEXPAND_1, BI_MACROEXPAND_1},
    {FS_OPEN, BI_OPEN},
    {FS_STEP_HOOK, BI_STEP_HOOK},
};

// The world starts empty: default header and memory block, areas, a free
// list over the whole cons area, no symbols, no roots.
bool new_world(uint32_t stack_n) {
  zorva_register_hooks();
  window_init();
  mem_free_areas(false, true);
  mem_default_header();
  if (stack_n) store_u32(zvm.header + HDR_STACK_N, stack_n);
  // On a terminal the status window shows the top level's notices.
  zvm.header[HDR_SWITCHES] |= SW_STATUS_WINDOW;
  if (mem_allocate_areas(0, true) != 0) return gen_fail("cannot allocate the areas");
  bi_init_counts();
  mem_post_load(zvm.cons_first, 1);
  for (Value& r : zvm.roots) r = NIL;
  for (uint32_t i = 0; i < zvm.hash_size; i++) zvm.hash[i] = HASH_SLOT_EMPTY;
  zvm.sym_count = 0;
  zvm.first_collectable = 0;
  zvm.heap_static = 0;
  zvm.msg_area = 0;
  return true;
}

// Window streams of the kernel's own windows: no name, and word 2 empty
// until start-up stores the live window there.
Value window_stream() {
  Value s = mem_alloc_object(3, HT_WINDOW | HT_STREAM_INPUT | HT_STREAM_OUTPUT, 2);
  heap_set_word(s, 0, NIL);
  heap_set_word(s, 1, 0);
  heap_set_word(s, 2, 0);
  return s;
}

void make_window_streams() {
  sym_set_value(FS_STATUS_STREAM, window_stream());
  sym_set_value(FS_INDICATOR_STREAM, window_stream());
  Value terminal = window_stream();
  // Start-up sets these to the terminal stream too; until then they name it.
  for (uint16_t s : {FS_TERMINAL_IO, FS_DEBUG_IO, FS_ERROR_OUTPUT, FS_QUERY_IO, FS_STANDARD_INPUT,
                     FS_STANDARD_OUTPUT, FS_TRACE_OUTPUT})
    sym_set_value(s, terminal);
}

// Everything allocated so far stays where it is for good; so do the
// symbols made so far, all fixed ones among them.
void seal_static_prefix() {
  zvm.heap_static = heap_used();
  zvm.first_collectable = zvm.sym_count;
  store_u16(zvm.memblock + MB_FIRST_COLLECTABLE, uint16_t(zvm.first_collectable));
  store_u32(zvm.memblock + MB_STATIC_HEAP, zvm.heap_static);
  store_u32(zvm.memblock + MB_MSG_AREA, zvm.msg_area);
}

bool build_static_part() {
  return gen_reserve_static_classes() && gen_make_message_area() && gen_make_fixed_symbols() &&
         gen_fill_static_classes();
}

Value string_value(const char* s) { return mem_make_string(s, uint32_t(std::strlen(s))); }

Value features_list() {
  Value list = NIL;
  root_push(&list);
  for (size_t i = std::size(FEATURES); i-- > 0;) list = cons(sym_intern_cstr(FEATURES[i]), list);
  root_pop();
  return list;
}

// Every fixed symbol starts unbound; these are the ones with a value.
void set_values(const char* image_name) {
  sym_set_value(FS_T, T);
  sym_set_value(FS_PRINT_RIGHT_MARGIN, make_fixnum(RIGHT_MARGIN));
  sym_set_value(FS_PRINT_BASE, make_fixnum(10));
  sym_set_value(FS_READ_BASE, make_fixnum(10));
  sym_set_value(FS_PRINT_CASE, make_keyword(FS_UPCASE));
  sym_set_value(FS_PRINT_ARRAY, T);
  sym_set_value(FS_PRINT_ESCAPE, T);
  sym_set_value(FS_PRINT_GENSYM, T);
  sym_set_value(FS_LOAD_VERBOSE, T);
  sym_set_value(FS_MESSAGE_PRINT_LENGTH, make_fixnum(MESSAGE_PRINT_LENGTH));
  sym_set_value(FS_MESSAGE_PRINT_LEVEL, make_fixnum(MESSAGE_PRINT_LEVEL));
  for (uint16_t s :
       {FS_PRINT_LENGTH, FS_PRINT_LEVEL, FS_PRINT_PRETTY, FS_PRINT_RADIX, FS_BREAK_ON_WARNINGS,
        FS_LOAD_PATHNAME, FS_COMMAND_LINE, FS_APPLYHOOK, FS_EVALHOOK, FS_STEP_HOOK,
        FS_BREAK_COMMANDS, FS_TOP_LEVEL_COMMANDS, FS_DEBUG_COMMANDS, FS_STEP_COMMANDS,
        FS_PACKAGE_NAMES, FS_READTABLE, FS_PRINT_CIRCLE, FS_PRINT_READABLY, FS_PRINT_CIRCLE_TABLE,
        FS_SIGNAL_HOOK})
    sym_set_value(s, NIL);
  for (uint32_t s = FS_HISTORY_FORM; s <= FS_HISTORY_VALUES_3; s++) sym_set_value(s, NIL);  // the histories
  sym_set_value(FS_PROMPT, string_value(PROMPT));
  sym_set_value(FS_IMAGE_NAME, string_value(image_name));
  sym_set_value(FS_FEATURES, features_list());
}

// Each built-in goes into the function cell of the symbol of its name;
// two built-ins on one symbol would leave one of them unreachable.
bool bind_builtins() {
  for (uint32_t n = 0; n < BI_CAPACITY; n++) {
    const char* name = zv_builtin_names[n];
    if (!name) continue;  // a spare record
    if (!*name) return gen_fail("built-in %u has no name", n);
    Value s = sym_intern_cstr(name);
    if (s == NIL) return gen_fail("built-in %u is named NIL", n);
    uint32_t i = symbol_index(s);
    if (sym_function(i) != NIL) return gen_fail("built-ins share the name %s", name);
    sym_set_function(i, bi_value(n));
  }
  for (const RoleFunction& r : role_functions) {
    Value f = sym_function(r.symbol);
    if (f != NIL && f != bi_value(r.builtin))
      return gen_fail("%s must hold built-in %u", zv_fixed_symbols[r.symbol].name, r.builtin);
    sym_set_function(r.symbol, bi_value(r.builtin));
  }
  return true;
}

bool is_lisp_source(const char* name) {
  size_t n = std::strlen(name);
  if (n < 5 || name[0] == '.') return false;
  const char* ext = name + n - 4;
  return ext[0] == '.' && std::toupper(ext[1]) == 'L' && std::toupper(ext[2]) == 'S' &&
         std::toupper(ext[3]) == 'P';
}

// Loading one library file.  Each form is read and evaluated under an
// error-catching context, so the first error stops the load and is
// reported with the form it came from, instead of entering a break loop.
struct LoadJob {
  std::string path;
  std::string failure;
};

std::string lisp_string_literal(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Returns NIL when the whole file loaded, else a string naming the form
// and the error.
const char* const LOAD_LOOP = R"(
(let ((stream (open PATH)) (eof (cons nil nil)) (form nil) (caught nil) (failed nil))
  (unwind-protect
      (loop
        (setq caught
              (multiple-value-call (function list)
                (%catch-error (progn (setq form eof)
                                     (setq form (read stream nil eof))
                                     (if (eq form eof) eof (eval form))))))
        (if (cadr caught)
            (progn
              (setq failed
                    (let ((*print-level* 3) (*print-length* 4) (*print-pretty* nil))
                      (format nil "~A~%~A"
                              (if (eq form eof) "while reading a form"
                                  (format nil "~S" form))
                              (apply (function format) nil (cadr caught)))))
              (return nil)))
        (if (eq (car caught) eof) (return nil)))
    (close stream))
  failed)
)";

int load_file(void* data) {
  LoadJob* job = static_cast<LoadJob*>(data);
  std::string text = LOAD_LOOP;
  text.replace(text.find("PATH"), 4, lisp_string_literal(job->path));
  Context cx;
  context_push(&cx, CX_LISTENER | CX_BLOCKLIKE | CX_LISTENER_DEBUG);
  if (setjmp(cx.resume) == 0) {
    Value source = mem_make_string(text.data(), uint32_t(text.size()));
    Value in = make_string_input_stream(source, 0, uint32_t(text.size()));
    Value form = read_from(in, true, NIL, false);
    Value failed = eval_form(form);
    if (failed != NIL)
      job->failure.assign(reinterpret_cast<const char*>(string_bytes(failed)),
                          string_length(failed));
  } else {
    job->failure = "the load was abandoned (stack exhausted or a throw to top level)";
  }
  context_pop(&cx);
  return 0;
}

}  // namespace

bool gen_fail(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(failure, sizeof failure, format, ap);
  va_end(ap);
  return false;
}

const char* gen_error() { return failure; }

bool gen_build_world(const char* image_name, uint32_t stack_n) {
  failure[0] = 0;
  uint32_t stress = zv_gc_stress;
  zv_gc_stress = 0;
  bool ok = new_world(stack_n) && build_static_part();
  if (ok) {
    make_window_streams();
    seal_static_prefix();
  }
  zv_gc_stress = stress;
  if (!ok) return false;
  set_values(image_name);
  return gen_make_root_words() && bind_builtins();
}

bool gen_load_library(const char* dir) {
  DIR* d = opendir(dir);
  if (!d) return gen_fail("cannot read the library directory %s", dir);
  std::vector<std::string> files;
  while (dirent* e = readdir(d))
    if (is_lisp_source(e->d_name)) files.push_back(e->d_name);
  closedir(d);
  // Files load in the order of their names (lisp/README.md).
  std::sort(files.begin(), files.end());
  if (files.empty()) return true;

  // From here on the world runs Lisp: the signaller, the console windows
  // behind the standard streams, and the stack reserves start-up would set.
  eval_init();
  console_attach_standard_windows();
  driver_set_reserves();
  for (const std::string& name : files) {
    LoadJob job{dir + std::string("/") + name, ""};
    run_on_big_stack(load_file, &job, native_stack_bytes(zvts->stack_top));
    if (!job.failure.empty())
      return gen_fail("%s: %s", job.path.c_str(), job.failure.c_str());
  }
  return true;
}
