// The system commands: saving the world as an image, loading another image
// into the running world, leaving the current computation for the top
// level, and leaving the system.
//
// Leaving goes to the outermost listener context, which belongs to the
// top-level driver: code 2 resumes its loop, 10 restarts the kernel on the
// image named in zv_image_name, 12 installs a staged world first, any
// other code ends the driver and so the process (with the exit code the
// world left in %EXIT-CODE).
#include "image/system_builtins.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/lisp_thread.h"
#include "eval/eval.h"
#include "image/image_file.h"
#include "image/startup.h"
#include "io/files.h"
#include "io/stream.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "text/strings.h"
#include "threads/safepoint.h"

namespace {

constexpr uint16_t TC_EXIT = 6;
constexpr uint16_t TC_RESTART_KERNEL = 10;

// Error codes.
constexpr uint32_t kErrWrite = 0x201F;      // 8223: image name, the host's text
constexpr uint32_t kMsgRetry = 32;          // its continuation
constexpr uint32_t kErrRead = 0x241F;       // 9247: image name, what went wrong
constexpr uint32_t kErrForeign = 0x244A;    // 9290: image name, what went wrong
constexpr uint32_t kErrTooLarge = 0x4048;   // 16456: heap bytes, cells, symbols, name
constexpr uint32_t kMsgRestartOn = 73;      // its continuation
constexpr uint32_t kErrHost = 0x244C;       // 9292: what, the host's text

// Images take this type when their name has none.
constexpr const char* kImageType = "ROL";

// A world read and checked by 440, waiting for the driver to install it.
StagedImage* pending = nullptr;
char pending_name[ZV_PATH_SIZE];

// Returns only when no listener exists (a world driven from C++).
void throw_to_outermost(uint16_t code) {
  ThreadState* ts = zvts;
  ts->mv_count = 0;
  ts->glvalue = NIL;
  uint16_t outer = find_outermost_context(CX_LISTENER);
  if (outer) throw_to(code, outer);
}

Value string_of(const char* s) { return str_from_cstr(s); }

// The image name of an argument: a string or a symbol's name, with the
// type .ROL when it has none; NIL or no argument is the image the world
// came from (symbol 204).  False when the argument names no file.
bool image_name(Value a, char* out) {
  if (nil_p(a) || is_no_value(a)) a = sym_value(FS_IMAGE_NAME);
  if (is_symbol(a)) a = sym_name(symbol_index(a));
  if (!is_string(a) || string_length(a) >= ZV_PATH_SIZE) return false;
  char given[ZV_PATH_SIZE];
  uint32_t n = string_length(a);
  std::memcpy(given, string_bytes(a), n);
  given[n] = 0;
  if (std::memchr(given, 0, n)) return false;
  return file_merge_type(given, kImageType, out, ZV_PATH_SIZE);
}

// Saving and loading replace or copy the whole world: nothing else may run
// in it meanwhile.
void refuse_if_shared(const char* what) {
  if (world_thread_count() <= 1) return;
  Value w = string_of(what);
  root_push(&w);
  Value text = string_of("There are other active threads");
  root_pop();
  lisp_error(kErrHost, w, text);
  throw_to_listener();
}

Value two_strings(uint32_t code, const char* a, const char* b) {
  Value x = string_of(a);
  root_push(&x);
  Value y = string_of(b);
  root_pop();
  return lisp_error(code, x, y);
}

// ---------------------------------------------------------------------------
// Saving

struct SaveRun {
  Value stream;  // rooted
  const char* name;
};

Value save_body(void* data) {
  SaveRun* run = static_cast<SaveRun*>(data);
  for (;;) {
    FILE* f = stream_file(run->stream);
    if (!f) return lisp_error(E_WRONG_TYPE, run->stream);
    errno = 0;
    int failed = img_write(f);
    int e = errno ? errno : EIO;
    // What an earlier, longer attempt left behind goes; and the image
    // reaches the disk before the old one's backup may be dropped.
    if (!failed) failed = ftruncate(fileno(f), ftello(f)) != 0 || fsync(fileno(f)) != 0;
    if (!failed) return T;
    if (errno) e = errno;
    Value name = string_of(run->name);
    root_push(&name);
    Value text = string_of(std::strerror(e));
    root_pop();
    Value objs[2] = {name, text};
    lisp_cerror(kMsgRetry, kErrWrite, objs);
    std::clearerr(f);
    std::rewind(f);
  }
}

// A save abandoned part way closes with :ABORT, which removes the partial
// file and puts the backup of the old image back under its name.
void save_cleanup(int abnormal, void* data) {
  SaveRun* run = static_cast<SaveRun*>(data);
  call_function3(make_symbol(FS_CLOSE), run->stream, make_keyword(FS_ABORT),
                 bool_value(abnormal));
}

// ---------------------------------------------------------------------------
// Loading

void close_after_failure(Value stream) {
  call_function3(make_symbol(FS_CLOSE), stream, make_keyword(FS_ABORT), T);
}

}  // namespace

void image_install_pending() {
  StagedImage* st = pending;
  pending = nullptr;
  if (!st) return;
  img_install(st);
  std::memcpy(zv_image_name, pending_name, ZV_PATH_SIZE);
  sym_set_value(FS_IMAGE_NAME, string_of(pending_name));
}

void image_discard_pending() {
  img_discard(pending);
  pending = nullptr;
}

bool image_has_pending() { return pending != nullptr; }

// 441 (&optional name &key if-exists): write the world to the image file
// through the image's OPEN, by default with a backup of the old file.
Value bi_save_image(Value, Value) {
  uint32_t n = arg_count(), k = 1;
  Value name_arg = NIL, if_exists = make_keyword(FS_RENAME);
  auto is_key = [](Value v) { return v == make_keyword(FS_IF_EXISTS); };
  if (k <= n && !is_key(arg(k))) name_arg = arg(k++);
  if (k <= n && !is_key(arg(k))) {
    lisp_cerror(MSG_CONT_IGNORE_ARG, E_MANY_ARGS, arg(k));
    while (k <= n && !is_key(arg(k))) k++;
  }
  for (; k + 1 <= n; k += 2)
    if (is_key(arg(k))) {
      if_exists = arg(k + 1);
      break;
    }
  refuse_if_shared("save image");
  char name[ZV_PATH_SIZE];
  if (!image_name(name_arg, name)) return lisp_error(E_WRONG_TYPE, name_arg);

  root_push(&if_exists);
  Value file = string_of(name);
  root_pop();
  Value args[7] = {file,
                   make_keyword(FS_DIRECTION),
                   make_keyword(FS_OUTPUT),
                   make_keyword(FS_ELEMENT_TYPE),
                   make_symbol(FS_UNSIGNED_BYTE),
                   make_keyword(FS_IF_EXISTS),
                   if_exists};
  Value stream = call_function(make_symbol(FS_OPEN), 7, args);
  if (!is_file_stream(stream) || !stream_is_output(stream)) return stream;
  SaveRun run{stream, name};
  root_push(&run.stream);
  establish_cleanup(save_body, save_cleanup, 0, &run);
  root_pop();
  sym_set_value(FS_IMAGE_NAME, string_of(name));
  zvts->mv_count = 1;
  return T;
}

// 440 (&optional name): replace the running world by the image's.  On
// success it does not return: the driver installs the new world and goes
// on at its top level.
Value bi_load_image(Value, Value) {
  check_max_args(1);
  Value name_arg = arg_count() ? arg(1) : NIL;
  refuse_if_shared("load image");
  char name[ZV_PATH_SIZE];
  if (!image_name(name_arg, name)) return lisp_error(E_WRONG_TYPE, name_arg);
  Value args[3] = {string_of(name), make_keyword(FS_ELEMENT_TYPE), make_symbol(FS_UNSIGNED_BYTE)};
  Value stream = call_function(make_symbol(FS_OPEN), 3, args);
  if (!is_file_stream(stream)) return stream;
  root_push(&stream);

  StagedImage* st = nullptr;
  int r = img_stage(stream_file(stream), &st);
  if (r != IMG_OK) {
    close_after_failure(stream);
    root_pop();
    return two_strings(r == IMG_BUILTINS ? kErrForeign : kErrRead, name, img_error_text());
  }
  call_function3(make_symbol(FS_CLOSE), stream, make_keyword(FS_ABORT), NIL);
  root_pop();

  if (!img_staged_fits(st)) {
    // A world this large needs areas of its own size: the kernel starts
    // again on it, once the user agrees.
    uint32_t heap, cells, symbols;
    img_staged_needs(st, &heap, &cells, &symbols);
    img_discard(st);
    Value objs[4] = {NIL, NIL, NIL, NIL};
    for (Value& o : objs) root_push(&o);
    objs[0] = mem_make_integer(heap);
    objs[1] = mem_make_integer(cells);
    objs[2] = mem_make_integer(symbols);
    objs[3] = string_of(name);
    lisp_cerror(kMsgRestartOn, kErrTooLarge, objs);
    root_pop(4);
    std::memcpy(zv_image_name, name, ZV_PATH_SIZE);
    throw_to_outermost(TC_RESTART_KERNEL);
    return NIL;
  }
  image_discard_pending();
  pending = st;
  std::memcpy(pending_name, name, ZV_PATH_SIZE);
  throw_to_outermost(TC_INSTALL_WORLD);
  // No top level: install at once (a world driven from C++).
  image_install_pending();
  return T;
}

// 439: abort to top level.
Value bi_abort_to_top_level(Value, Value) {
  throw_to_outermost(TC_LISTENER);
  return NIL;
}

// 450: leave the system.
Value bi_exit(Value, Value) {
  // From another thread than the first: the first is asked to end the
  // process, and this thread ends.
  thread_exit_requested();
  throw_to_outermost(TC_EXIT);
  return NIL;
}
