// Host programs: the built-ins that run a program and wait for it, and the
// one that edits an object with the user's editor.
//
// Programs start through posix_spawnp, which searches PATH and reports a
// program that cannot be started as an error number rather than as a
// child that exits at once.  While the kernel waits it ignores the
// keyboard's interrupt and quit signals, as a shell does: they are meant
// for the program, which gets them with their usual effect.
#include "io/programs.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/stack.h"
#include "io/stream.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/printer.h"
#include "text/reader.h"
#include "text/strings.h"
#include "threads/safepoint.h"

extern char** environ;

ConsoleHandover zv_console_handover = {nullptr, nullptr};

namespace {

constexpr uint32_t kHostFailed = 0x244C;  // 9292: what, the host's text
constexpr uint32_t kMaxProgramArgs = 10;

// Fixed symbols.

// Keywords of OPEN.

// The arguments of a program: texts of at most this many bytes altogether
// are collected from the Lisp objects before anything starts.  The host's
// own limit, which is checked when the program starts, is what counts;
// this only bounds the kernel's buffer.
constexpr size_t kArgBytes = 1u << 21;

// The texts and the vector of the arguments.  Reused by every run, so a
// throw between collecting the arguments and starting the program leaks
// nothing.
thread_local char* arg_text = nullptr;
thread_local size_t arg_text_cap = 0;
thread_local char** arg_vector = nullptr;
thread_local size_t arg_vector_cap = 0;

bool reserve_args(size_t bytes, size_t count) {
  if (bytes > arg_text_cap) {
    char* p = static_cast<char*>(std::realloc(arg_text, bytes));
    if (!p) return false;
    arg_text = p;
    arg_text_cap = bytes;
  }
  if (count + 1 > arg_vector_cap) {
    char** v = static_cast<char**>(std::realloc(arg_vector, sizeof(char*) * (count + 1)));
    if (!v) return false;
    arg_vector = v;
    arg_vector_cap = count + 1;
  }
  return true;
}

// Error 9292 naming what failed; the break loop may give a value to
// return instead.
Value host_failed(Value what, const char* text) {
  root_push(&what);
  Value t = str_from_cstr(text);
  root_pop();
  return lisp_error(kHostFailed, what, t);
}

void wait_signals(bool ignore, struct sigaction* saved) {
  if (ignore) {
    struct sigaction sa = {};
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &saved[0]);
    sigaction(SIGQUIT, &sa, &saved[1]);
  } else {
    sigaction(SIGINT, &saved[0], nullptr);
    sigaction(SIGQUIT, &saved[1], nullptr);
  }
}

// The printed texts (without escapes) of the arguments from the Lisp
// stack frame, first to last, NIL skipped.  The strings are made one at a
// time and copied out at once, so nothing of the heap is held meanwhile.
void collect_args(uint32_t first, uint32_t last, Value* list_out) {
  Value texts = NIL;
  root_push(&texts);
  for (uint32_t k = last; k >= first && k > 0; k--) {
    Value a = arg(k);
    if (nil_p(a)) continue;
    Value s = is_string(a) ? a : print_to_string(a, PRINT_NO_ESCAPE);
    texts = cons(s, texts);
  }
  root_pop();
  *list_out = texts;
}

// The list of strings as the argument vector (arg_vector); false with
// *bad set when the texts hold a NUL (the host would cut them there) or
// do not fit.
bool fill_argv(Value texts, Value* bad) {
  size_t need = 0, count = 0;
  for (Value l = texts; cons_p(l); l = cdr(l), count++) need += string_length(car(l)) + 1;
  if (need > kArgBytes || !reserve_args(need, count)) {
    *bad = car(texts);
    return false;
  }
  size_t at = 0, n = 0;
  for (Value l = texts; cons_p(l); l = cdr(l)) {
    Value s = car(l);
    uint32_t len = string_length(s);
    if (std::memchr(string_bytes(s), 0, len)) {
      *bad = s;
      return false;
    }
    std::memcpy(arg_text + at, string_bytes(s), len);
    arg_text[at + len] = 0;
    arg_vector[n++] = arg_text + at;
    at += len + 1;
  }
  arg_vector[n] = nullptr;
  return true;
}

Value exit_code_value(int code) { return make_fixnum(code); }

// ---------------------------------------------------------------------------
// Editing

struct EditRun {
  Value object;  // rooted
  Value stream;  // rooted: the stream open on the file, or NIL
  char file[4096];
  bool reading;  // the editor has run: the file holds the user's text
  Value result;  // rooted
};

Value open_file(const char* file, bool output) {
  Value name = str_from_cstr(file);
  if (!output) return call_function1(make_symbol(FS_OPEN), name);
  Value args[5] = {name, make_keyword(FS_DIRECTION), make_keyword(FS_OUTPUT),
                   make_keyword(FS_IF_EXISTS), make_keyword(FS_OVERWRITE)};
  return call_function(make_symbol(FS_OPEN), 5, args);
}

void close_stream(EditRun* run, bool abort) {
  Value s = run->stream;
  run->stream = NIL;
  if (is_stream(s))
    call_function3(make_symbol(FS_CLOSE), s, make_keyword(FS_ABORT), bool_value(abort));
}

Value edit_body(void* data) {
  EditRun* run = static_cast<EditRun*>(data);
  ThreadState* ts = zvts;

  run->stream = open_file(run->file, true);
  if (!is_stream(run->stream)) return lisp_error(E_WRONG_TYPE, run->stream);
  uint16_t mark = ts->septr;
  bind_special(FS_PRINT_LEVEL, NIL);
  bind_special(FS_PRINT_LENGTH, NIL);
  // Laid out for reading: an editor is no place for one long line.
  bind_special(FS_PRINT_PRETTY, T);
  print_object(run->object, run->stream, PRINT_ESCAPE);
  stream_write_char(run->stream, '\n');
  unbind_to(mark);
  pop_to(mark);
  close_stream(run, false);

  Value name = str_from_cstr(run->file);
  call_function2(make_symbol(FS_RUN_EDITOR), sym_value(FS_EDITOR), name);

  run->reading = true;
  run->stream = open_file(run->file, false);
  if (!is_stream(run->stream)) return lisp_error(E_WRONG_TYPE, run->stream);
  run->result = read_from(run->stream, true, NIL, false);
  close_stream(run, false);
  return run->result;
}

// The file goes once the object is back.  When reading it back fails it
// stays, so what the user wrote is not lost; symbol 139 names it.
void edit_cleanup(int abnormal, void* data) {
  EditRun* run = static_cast<EditRun*>(data);
  close_stream(run, abnormal != 0);
  if (!abnormal || !run->reading) unlink(run->file);
}

}  // namespace

// ---------------------------------------------------------------------------
// Leaf helpers

int program_run(char* const argv[], CapturedOutput* capture, int* code) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  int pipefd[2] = {-1, -1};
  if (capture) {
    if (pipe2(pipefd, O_CLOEXEC) != 0) {
      int e = errno;
      posix_spawn_file_actions_destroy(&actions);
      posix_spawnattr_destroy(&attr);
      return e;
    }
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  // What the kernel wrote so far comes before what the program writes.
  std::fflush(nullptr);
  struct sigaction saved[2];
  wait_signals(true, saved);
  pid_t pid;
  int err = posix_spawnp(&pid, argv[0], &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  // Waiting for the program touches no Lisp object.
  safe_region_enter();
  if (capture) {
    close(pipefd[1]);
    capture->length = 0;
    while (err == 0) {
      if (capture->capacity - capture->length < 4096) {
        size_t ncap = capture->capacity ? capture->capacity * 2 : 8192;
        char* p = static_cast<char*>(std::realloc(capture->bytes, ncap));
        if (!p) break;  // the rest is left unread; the program sees a broken pipe
        capture->bytes = p;
        capture->capacity = ncap;
      }
      ssize_t got =
          read(pipefd[0], capture->bytes + capture->length, capture->capacity - capture->length);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      capture->length += size_t(got);
    }
    close(pipefd[0]);
  }
  if (err == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    *code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  safe_region_leave();
  wait_signals(false, saved);
  return err;
}

bool program_edit_file(char* out, size_t cap) {
  const char* dir = "/tmp";
  for (const char* var : {"ZVTMP", "TMPDIR"}) {
    const char* d = std::getenv(var);
    struct stat st;
    if (d && *d && stat(d, &st) == 0 && S_ISDIR(st.st_mode)) {
      dir = d;
      break;
    }
  }
  size_t n = std::strlen(dir);
  const char* sep = n && dir[n - 1] == '/' ? "" : "/";
  if (size_t(std::snprintf(out, cap, "%s%szvedit-XXXXXX.lsp", dir, sep)) >= cap) {
    errno = ENAMETOOLONG;
    return false;
  }
  int fd = mkstemps(out, 4);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// ---------------------------------------------------------------------------
// Built-ins

// 442 (&rest program-and-arguments): with none, the user's shell; else the
// program found on PATH with every argument printed without escapes.
// Returns the exit code.
Value bi_run_program(Value, Value) {
  check_max_args(kMaxProgramArgs);
  uint32_t n = arg_count() < kMaxProgramArgs ? arg_count() : kMaxProgramArgs;
  if (world_thread_count() > 1)
    return host_failed(str_from_cstr("run program"), "There are other active threads");
  Value texts = NIL;
  root_push(&texts);
  if (n == 0) {
    const char* shell = std::getenv("SHELL");
    texts = str_from_cstr(shell && *shell ? shell : "/bin/sh");
    texts = cons(texts, NIL);
  } else {
    collect_args(1, n, &texts);
  }
  Value bad = NIL;
  if (!cons_p(texts)) {
    root_pop();
    return lisp_error(E_WRONG_TYPE, NIL);
  }
  if (!fill_argv(texts, &bad)) {
    root_pop();
    return host_failed(bad, std::strerror(E2BIG));
  }
  Value program = car(texts);
  root_push(&program);
  if (zv_console_handover.release) zv_console_handover.release();
  int code = 0;
  int err = program_run(arg_vector, nullptr, &code);
  if (zv_console_handover.retake) zv_console_handover.retake();
  root_pop(2);
  if (err) return host_failed(program, std::strerror(err));
  return exit_code_value(code);
}

// 474 (program &rest arguments): run it with its standard output captured;
// two values, the output as a string and the exit code.
Value bi_program_output(Value, Value) {
  uint32_t n = arg_count();
  Value texts = NIL;
  root_push(&texts);
  collect_args(1, n, &texts);
  if (!cons_p(texts)) {
    root_pop();
    return lisp_error(E_WRONG_TYPE, NIL);
  }
  Value bad = NIL;
  if (!fill_argv(texts, &bad)) {
    root_pop();
    return host_failed(bad, std::strerror(E2BIG));
  }
  Value program = car(texts);
  root_push(&program);
  static thread_local CapturedOutput out = {nullptr, 0, 0};
  int code = 0;
  int err = program_run(arg_vector, &out, &code);
  if (err) {
    root_pop(2);
    return host_failed(program, std::strerror(err));
  }
  Value v[2] = {NIL, make_fixnum(code)};
  v[0] = mem_make_string(out.bytes ? out.bytes : "", uint32_t(out.length));
  root_pop(2);
  return set_values(2, v);
}

// 443 (object): print it to a fresh temporary file, run the editor on the
// file (the function of symbol 0xDE with the value of symbol 226 and the
// file name) and read the object back.
Value bi_edit_object(Value a, Value) {
  EditRun run{a, NIL, {}, false, NIL};
  if (!program_edit_file(run.file, sizeof run.file)) {
    Value what = str_from_cstr("temporary file");
    return host_failed(what, std::strerror(errno));
  }
  root_push(&run.object);
  root_push(&run.stream);
  root_push(&run.result);
  Value name = str_from_cstr(run.file);
  sym_set_value(FS_ED, name);
  establish_cleanup(edit_body, edit_cleanup, 0, &run);
  Value result = run.result;
  root_pop(3);
  zvts->mv_count = 1;
  return result;
}
