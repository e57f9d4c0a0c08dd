// The texts of messages 0..39.
//
// A colour argument is a console attribute fixnum; ~V@( applies it to the
// text up to ~) on a window stream and leaves the print case alone.  Where
// a message is printed both with and without its colour, ~#[ picks the
// plain form when no argument is left, so neither use runs out of
// arguments.
#include "genesis/messages.h"

#include <cstring>

#include "genesis/world.h"
#include "object/memory.h"

const char* const zv_message_texts[MESSAGE_COUNT] = {
    "(unused message 0)",
    // After the values of a top-level form (status window): NIL, count.
    "~&~*~[No values~;1 value~:;~:*~D values~]",
    "(unused message 2)",
    // Status while LOAD reads a file: the file name.
    "Loading ~A ...",
    // Listener banner (status window, status colour); the debugger's
    // notice that the outermost frame is reached (debugger colour).
    "~&~#[Top level~:;~V@(Top level~)~]",
    // Code 4101, after LOAD: the file name.
    "~&; Loaded ~A",
    "(unused message 6)",
    "(unused message 7)",
    // Status: output paused after a screenful.
    "-- More -- (press any key)",
    // Status: leaving the system with meta-F4.
    "Leave the system? Y: yes, N: no, Esc: cancel",
    "(unused message 10)",
    "(unused message 11)",
    // Break-loop prompt, printed as it stands.
    "Break> ",
    // Debugger prompt, printed as it stands.
    "Debug> ",
    // A variable in the debugger: kind (0, 1 closure pairs, 2 special,
    // 3 function binding), name, value.
    "~&  ~[~;~;special ~;function ~]~S = ~S",
    // A frame in the debugger: marker character, colour, function or form,
    // T for an eval frame.
    "~&~C ~V@(~S~)~:[ (call)~;~]",
    // Stepper prompt: colour.
    "~&~#[Step> ~:;~V@(Step>~) ~]",
    // Break-loop banner (status window): level, T when continuable.
    "~&Break level ~D~:[~;, F5 continues~], ,N restart, F3 debugger",
    // The debugger saw its input interrupted.
    "~&Input interrupted",
    // The debugger reached the innermost frame.
    "~&~#[Innermost frame~:;~V@(Innermost frame~)~]",
    // Stands in for a missing message text (with the error's objects), and
    // ends the debugger's list of all variables (no arguments).
    "~#[~&~:;(message text missing)~@{ ~S~}~]",
    // Status while TIME evaluates.
    "Timing ...",
    // Code 8214, the report of TIME: elapsed seconds.
    "~&Elapsed time: ~A s",
    // Status while F1 looks up help: the word.
    "Help on ~A ...",
    // A built-in this kernel does not implement yet: its number.
    "Built-in ~D is not implemented in this kernel yet",
    // Warning header: colour, message text, its objects.
    "~&~V@(Warning: ~@?~)",
    // Code 8218, a definition replaces another: kind (0 function, 1 macro,
    // 2 class, 3 structure, 4 and 5 type, 6 class), name.
    "~[Function~;Macro~;Class~;Structure~;Type~;Type~:;Class~] ~S is redefined",
    // Error header: colour, message text, its objects.
    "~&~V@(Error: ~@?~)",
    // Where the error happened: colour, kind of the function (0 special
    // form, 1 macro, otherwise function), its name.
    "~&~V@(In ~[special form~;macro~:;function~] ~S~)",
    // Before the continuation text of a continuable error: that text and
    // its arguments.
    "~&To continue (F5): ~@?",
    // Break header: colour, then the control string and arguments of BREAK.
    "~&~V@(Break~#[~:;: ~@?~]~)",
    // Codes 8223 and 9247: file name, the runtime library's error text.
    "I/O error on ~A: ~A",
    // Continuation of code 8223.
    "retry the operation",
    // Code 4129: the object given as a stream.
    "~S is not a stream in the needed direction",
    // Codes 4130 and 5154: the file name.
    "File ~A already exists",
    // Codes 4131 and 5155: the file name.
    "File ~A does not exist",
    "Vector heap exhausted",
    "Symbol table full",
    "Lisp stack overflow",
    "Cons cells exhausted",
};

bool gen_make_message_area() {
  uint32_t first = zvm.heap_fill;
  for (uint32_t i = 0; i < MESSAGE_COUNT; i++) {
    const char* text = zv_message_texts[i];
    uint32_t expected = zvm.heap_fill;
    Value s = mem_make_string(text, uint32_t(std::strlen(text)));
    // The kernel finds message n by skipping n objects from the first.
    if (heap_offset(s) != expected) return gen_fail("message %u is not contiguous", i);
  }
  zvm.msg_area = first - 8;  // counted from the data base
  return true;
}
