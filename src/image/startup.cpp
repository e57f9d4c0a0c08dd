// Program entry.  The kernel holds no Lisp of its own, so everything here is
// about getting an image loaded and telling it how it was started: the
// image name, the features given on the command line and the remaining
// arguments.
#include "image/startup.h"

#include <strings.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "builtins/classes.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/hooks.h"
#include "eval/io_locks.h"
#include "eval/lisp_thread.h"
#include "image/driver.h"
#include "image/image_file.h"
#include "io/console.h"
#include "io/docstore.h"
#include "io/files.h"
#include "io/host.h"
#include "io/programs.h"
#include "io/stream.h"
#include "object/gc.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "object/value.h"
#include "threads/table.h"
#include "text/format.h"
#include "text/printer.h"
#include "text/reader.h"
#include "text/symbol_functions.h"

char zv_image_name[ZV_PATH_SIZE];

DriverFn zv_driver = driver_top_level;

// Messages of start-up and exit.
constexpr uint32_t MSG_MEMORY = 0x7000 | 40;       // seven arguments
constexpr uint32_t MSG_COLLECTIONS = 0x4000 | 41;  // four arguments

static const char kBanner[] =
    "\nZorva / Version 3.7 / Common LISP & CLOS compliant\n"
    "Kernel for POSIX terminals, 455 built-in functions\n";

// ---------------------------------------------------------------------------
// Names and paths

// Copy src into a path buffer; false (and dst untouched) when it doesn't fit.
static bool copy_path(char* dst, const char* src) {
  size_t n = strlen(src);
  if (n >= ZV_PATH_SIZE) return false;
  memcpy(dst, src, n + 1);
  return true;
}

// The kernel's upper case: ASCII letters and the Cyrillic small letters of
// code page 1251 (0xE0-0xFF, and 0xB8 whose capital is 0xA8).
static unsigned char upcase_1251(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || c >= 0xE0) return c - 32;
  if (c == 0xB8) return 0xA8;
  return c;
}

static void upcase_in_place(char* s) {
  for (; *s; s++) *s = (char)upcase_1251((unsigned char)*s);
}

// The working directory, ending in the separator.  When it does not fit it
// stays empty, which still names the working directory for relative paths.
static void take_working_dir() {
  zv_current_drive[0] = 0;
  zv_current_dir[0] = 0;
  char buf[ZV_PATH_SIZE];
  if (!getcwd(buf, sizeof buf)) return;
  size_t n = strlen(buf);
  if (n == 0 || buf[n - 1] != '/') {
    if (n + 1 >= ZV_PATH_SIZE) return;
    buf[n++] = '/';
    buf[n] = 0;
  }
  memcpy(zv_current_dir, buf, n + 1);
}

// Program path into directory (with its separator) and file name; the
// extension of the file name is dropped, so the default image of
// "zorva.bin" would be "zorva.ROL" as well as that of "zorva".
static void split_program_path() {
  zv_program_drive[0] = 0;
  const char* slash = strrchr(zv_program_path, '/');
  size_t dir_len = slash ? (size_t)(slash - zv_program_path) + 1 : 0;
  memcpy(zv_program_dir, zv_program_path, dir_len);
  zv_program_dir[dir_len] = 0;
  const char* file = zv_program_path + dir_len;
  const char* dot = strrchr(file, '.');
  size_t file_len = dot && dot != file ? (size_t)(dot - file) : strlen(file);
  memcpy(zv_program_name, file, file_len);
  zv_program_name[file_len] = 0;
}

// ---------------------------------------------------------------------------
// Failures

// Bad image or bad argument.  The pause lets the user of a console window
// read the lines before it closes; scripts get them at once.
static void threads_stop();

static int bad_start(const char* what) {
  threads_stop();
  console_shutdown();  // the lines go to the terminal's own screen
  printf("\nBad .ROL-file or illegal command line option: %s", what);
  printf("\nUsage: ZORVA [-ROL filename.ROL] [ARGS]*...\n");
  fflush(stdout);
  if (isatty(STDOUT_FILENO)) host_sleep_ms(5000);
  return 1;
}

// ---------------------------------------------------------------------------
// Services the lower layers call upward

void zorva_register_hooks() {
  zv_hooks.format = format_to_stream;
  zv_hooks.print = print_object;
  zv_hooks.read_form = read_listener_form;
  zv_hooks.read_char = stream_read_char;
  zv_hooks.unread_char = stream_unread_char;
  zv_hooks.arm_prompt = console_arm_prompt;
  zv_hooks.drop_line = console_drop_line;
  zv_hooks.status_visible = console_status_visible;
  zv_hooks.pop_up = console_pop_up;
  zv_hooks.message_text = doc_message_text;
  zv_hooks.error_text = doc_error_text;
  zv_hooks.doc_record = doc_record;
  zv_hooks.reader_hold = reader_hold;
  zv_hooks.reader_give_back = reader_give_back;
  zv_instance_function = instance_function;
  zv_console_handover = {console_hand_over, console_take_back};
  zv_stacks_reset_hook = io_holds_forget;
}

// ---------------------------------------------------------------------------
// Steps that belong to later parts of the kernel

// The first thread is the one that runs main: record 0 of the thread
// table and a member of the world, which it lends to the bigger stack the
// driver runs on.
static void threads_start() {
  zvts = &zv_first_thread;
  if (!threads_init_first()) {
    std::fputs("Couldn't set up the thread table\n", stdout);
    std::fflush(stdout);
    std::exit(1);
  }
  window_init();
  gc_stress_init_from_env();
  zorva_register_hooks();
  zv_thread_breaks_at_console = console_is_screen;
  eval_init();
}
static void threads_stop() { threads_end_first(); }

// The terminal, status and indicator windows go into data word 2 of the
// streams in symbols 210, 208 and 209; loading cleared that word.
static void attach_console_windows() {
  console_init();
  console_attach_standard_windows();
}
// The terminal back to the modes and the screen it had.
static void restore_console() { console_shutdown(); }

// The console: a terminal's own screen for an interactive session, line
// mode for a program run from the command line (its output stays on the
// terminal after it ends) and wherever input or output is no terminal.
static void start_console(bool quiet) {
  console_choose(quiet ? CONSOLE_LINE : CONSOLE_AUTO);
  console_init();
  if (!quiet) {
    Window* w = console_window(WIN_TERMINAL);
    window_write_text(w, reinterpret_cast<const uint8_t*>(kBanner), uint32_t(sizeof kBanner - 1));
  }
}

static Value count_value(uint64_t n) { return mem_make_integer(int64_t(n)); }

// Message 40 with the free space of the new world.  It is printed under a
// listener context of its own, so that a failure while printing ends only
// the report.
static void report_memory_at_start() {
  Context cx;
  context_push(&cx, CX_LISTENER | CX_BLOCKLIKE | CX_LISTENER_DEBUG);
  if (setjmp(cx.resume) == 0) {
    Value args[7] = {
        make_fixnum(int32_t(hdr_u32(HDR_STACK_N))), make_fixnum(3), NIL, T, NIL, NIL, T};
    for (int i = 2; i <= 5; i++) root_push(&args[i]);
    args[2] = count_value(zvm.free_count);
    args[4] = count_value(zvm.sym_cap - zvm.sym_count);
    args[5] = count_value(zvm.heap_limit - zvm.heap_fill);
    // Straight to the format engine: the message printer takes at most
    // four objects, and this message has seven.
    // The text first: looking it up may allocate.
    Value text = message_text(MSG_MEMORY & 0xFF);
    root_push(&text);
    emit_formatted(sym_value(FS_TERMINAL_IO), text, 7, args);
    root_pop(5);
  }
  context_pop(&cx);
}

static void report_collections_at_exit() {
  if (!(hdr_u8(HDR_SWITCHES) & SW_MEMORY_STATS)) return;
  Value args[4] = {make_fixnum(int32_t(zv_gc.cons)), make_fixnum(int32_t(zv_gc.heap)),
                   make_fixnum(int32_t(zv_gc.symbol)), make_fixnum(int32_t(zv_gc.full))};
  print_message(FS_TERMINAL_IO, MSG_COLLECTIONS, args);
}

// Open files are owned by file streams; the file layer closes them.
static void close_runtime_files() { files_close_all(); }

// ---------------------------------------------------------------------------
// Arguments into the Lisp world

// Destructive: the features list belongs to the world being started.
static Value delete_eq(Value x, Value list) {
  while (cons_p(list) && car(list) == x) list = cdr(list);
  for (Value p = list; cons_p(p) && cons_p(cdr(p));) {
    if (car(cdr(p)) == x)
      set_cdr(p, cdr(cdr(p)));
    else
      p = cdr(p);
  }
  return list;
}

// "#+NAME" adds NAME to the features, "#-NAME" removes it; false for any
// other second character or a name too long for the kernel's buffers.
static bool apply_feature(const char* arg) {
  char op = arg[1];
  if (op != '+' && op != '-') return false;
  char name[ZV_PATH_SIZE];
  if (!copy_path(name, arg + 2)) return false;
  upcase_in_place(name);
  Value sym = sym_intern((const uint8_t*)name, (uint32_t)strlen(name));
  root_push(&sym);
  Value features = sym_value(FS_FEATURES);
  if (op == '-')
    sym_set_value(FS_FEATURES, delete_eq(sym, features));
  else if (!memq(sym, features))
    sym_set_value(FS_FEATURES, cons(sym, features));
  root_pop();
  return true;
}

static Value make_string(const char* s) { return mem_make_string(s, (uint32_t)strlen(s)); }

// Symbol 205 := (program-path arg ...); "#" arguments set features instead.
// Returns the offending argument, or null when all were good.
static const char* take_arguments(int first, int argc, char** argv) {
  Value list = NIL;
  root_push(&list);
  sym_set_value(FS_COMMAND_LINE, NIL);
  for (int i = first; i < argc; i++) {
    if (argv[i][0] == '#') {
      if (!apply_feature(argv[i])) {
        root_pop();
        return argv[i];
      }
      continue;
    }
    Value s = make_string(argv[i]);
    list = cons(s, list);
  }
  list = nreverse_list(list);
  const char* self = zv_program_path;
  if (!self[0]) self = argc > 0 && argv[0] ? argv[0] : "";
  Value s = make_string(self);
  list = cons(s, list);
  sym_set_value(FS_COMMAND_LINE, list);
  root_pop();
  return nullptr;
}

// ---------------------------------------------------------------------------
// Entry

// "-ROL name" as the first two arguments (the option in any case); alone
// it is an ordinary argument.
static bool rol_option(int argc, char** argv) {
  return argc >= 3 && strcasecmp(argv[1], "-ROL") == 0;
}

// Decide the image from the command line; returns the index of the first
// argument for the Lisp world, or -1 with *shown naming the bad argument.
// *shown is what a failed load reports: the -ROL argument as typed, or the
// default name.
static int choose_image(int argc, char** argv, const char** shown) {
  if (rol_option(argc, argv)) {
    *shown = argv[2];
    if (!copy_path(zv_image_name, argv[2])) return -1;
    upcase_in_place(zv_image_name);
    return 3;
  }
  static char name[3 * ZV_PATH_SIZE + 8];
  snprintf(name, sizeof name, "%s%s%s.ROL", zv_program_drive, zv_program_dir, zv_program_name);
  *shown = name;
  if (!copy_path(zv_image_name, name)) return -1;
  return 1;
}

// A command line that hands the Lisp world a plain argument (a file to
// run, --help, --version) is a non-interactive run, and so is any run of a
// delivered program image: their output is the program's own, so the
// banner and the memory report are left out.
static bool quiet_start(int argc, char** argv, const char* image) {
  int first = rol_option(argc, argv) ? 3 : 1;
  for (int i = first; i < argc; i++)
    if (argv[i][0] != '#') return true;
  Value program = NIL;
  return img_peek_symbol_value(image, FS_PROGRAM, &program) && !nil_p(program) &&
         !is_no_value(program);
}

// The exit code the world asked for (%EXIT-CODE): a fixnum 0..255; 0
// for anything else.
static int requested_exit_code() {
  Value v = sym_value(FS_EXIT_CODE);
  if (!is_fixnum(v)) return 0;
  int32_t n = fixnum_value(v);
  return n >= 0 && n <= 255 ? n : 0;
}

// Free the world after the driver is done with it.
// The terminal is given back first, so that the report of the collections
// is printed where the user still sees it after the kernel has ended.
static void shut_down() {
  restore_console();
  report_collections_at_exit();
  close_runtime_files();
  mem_free_areas(false, true);
  threads_stop();
}

int zorva_main(int argc, char** argv) {
  threads_start();
  host_program_path(zv_program_path, ZV_PATH_SIZE);
  take_working_dir();
  split_program_path();
  const char* shown = nullptr;
  int first = choose_image(argc, argv, &shown);
  bool quiet = quiet_start(argc, argv, zv_image_name);
  start_console(quiet);
  if (first < 0) return bad_start(shown);

  int exit_code = 0;

  for (;;) {
    if (img_load(zv_image_name, 1) != IMG_OK) return bad_start(shown);
    attach_console_windows();
    sym_set_value(FS_IMAGE_NAME, make_string(zv_image_name));
    if (!quiet) report_memory_at_start();
    const char* bad = take_arguments(first, argc, argv);
    if (bad) return bad_start(bad);

    int result = zv_driver ? zv_driver(1) : 0;
    if (result != 1) {
      exit_code = requested_exit_code();
      break;
    }

    // Restart: a fresh world from the (possibly changed) image name, with
    // the command-line arguments already used up.
    mem_free_areas(false, true);
    first = argc;
    shown = zv_image_name;
  }
  // Threads still running are asked to end; one that does not within a
  // second is not waited for: the process ends without freeing the world
  // under it.
  threads_shutdown(1000);
  if (thread_active_count() > 1) {
    restore_console();
    std::fflush(nullptr);
    _exit(exit_code);
  }
  shut_down();
  return exit_code;
}
