// The table of fixed symbols and their creation.
//
// Names follow Common Lisp wherever the role is that of a Common Lisp
// operator, variable, type or keyword; the system's own roles have names
// that begin with %.  Indices the kernel never names are filled with names
// that keep the alphabetical runs of their neighbours (BIT between BIGNUM
// and CHARACTER, PROG between OTHERWISE and PROGN), or with %RESERVED-n
// where no name fits.  The kernel cares only about the indices.
#include "genesis/fixed_symbols.h"

#include <cstring>

#include "genesis/world.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace {
constexpr uint8_t O = VAR_ORDINARY, C = VAR_CONSTANT, S = VAR_SPECIAL;
}

const FixedSymbol zv_fixed_symbols[FIXED_SYMBOL_COUNT] = {
    // Keyword numbers of built-in arguments (0..33).
    {"NIL", O, "NIL; keyword 0 marks a consumed key/value pair"},  // 0
    {"START1", O, ":START1"},
    {"END1", O, ":END1"},
    {"START2", O, ":START2"},
    {"END2", O, ":END2"},
    {"TEST", O, ":TEST"},  // 5
    {"TEST-NOT", O, ":TEST-NOT"},
    {"KEY", O, ":KEY"},
    {"FROM-END", O, ":FROM-END"},
    {"START", O, ":START; file position designator: start"},
    {"END", O, ":END; file position designator: end; name of the End key"},  // 10
    {"COUNT", O, ":COUNT"},
    {"INITIAL-VALUE", O, ":INITIAL-VALUE"},
    {"INITIAL-ELEMENT", O, ":INITIAL-ELEMENT of MAKE-ARRAY"},
    {"INITIAL-CONTENTS", O, ":INITIAL-CONTENTS of MAKE-ARRAY"},
    {"ELEMENT-TYPE", O, ":ELEMENT-TYPE of MAKE-ARRAY and OPEN"},  // 15
    {"DIRECTION", O, ":DIRECTION of OPEN"},
    {"IF-EXISTS", O, ":IF-EXISTS of OPEN"},
    {"IF-DOES-NOT-EXIST", O, ":IF-DOES-NOT-EXIST of OPEN and LOAD"},
    {"EXTERNAL-FORMAT", O, ":EXTERNAL-FORMAT of OPEN and LOAD"},
    {"PRINT", O, ":PRINT of LOAD"},  // 20
    {"VERBOSE", O, ":VERBOSE of LOAD"},
    {"ABORT", O, ":ABORT of CLOSE"},
    {"SIZE", O, ":SIZE of MAKE-HASH-TABLE"},
    {"STREAM", O, "TYPE-OF of other tag-0x60 objects; :STREAM of WRITE"},
    {"ARRAY", O, "TYPE-OF of non-simple arrays; :ARRAY of WRITE"},  // 25
    {"BASE", O, ":BASE of WRITE"},
    {"CASE", O, ":CASE of WRITE"},
    {"ESCAPE", O, ":ESCAPE of WRITE"},
    {"GENSYM", O, ":GENSYM of WRITE"},
    {"LENGTH", O, ":LENGTH of WRITE"},  // 30
    {"LEVEL", O, ":LEVEL of WRITE"},
    {"PRETTY", O, ":PRETTY of WRITE"},
    {"RADIX", O, ":RADIX of WRITE"},

    // Reserved: indices 34 and up are refused as built-in keywords.
    {"%RESERVED-34", O, ""},
    {"SPECIAL", O, "declaration identifier: (DECLARE (SPECIAL var ...))"},  // 35
    {"%UPDATE-OBSOLETE-INSTANCE", O,
     "function: brings an instance made before its class changed up to date; returns the object "
     "holding its slots"},
    {"ALLOW-OTHER-KEYS", O, ":ALLOW-OTHER-KEYS: true in a call, keywords the callee does not take are ignored"},
    {"%CONSOLE-HISTORY", O, "value: the console history's lines too long for its slots"},
    {"%PROGRAM", S, "the function a delivered program image runs instead of the top level"},
    {"%RESERVED-40", O, ""},  // 40
    {"%STORE", O, "store variable of every place expansion"},

    // Lambda-list keywords, in this order.
    {"&ALLOW-OTHER-KEYS", O, "lambda-list keyword"},
    {"&AUX", O, "lambda-list keyword"},
    {"&BODY", O, "lambda-list keyword"},
    {"&ENVIRONMENT", O, "lambda-list keyword"},  // 45
    {"&KEY", O, "lambda-list keyword"},
    {"&OPTIONAL", O, "lambda-list keyword; optional marker of place expanders"},
    {"&REST", O, "lambda-list keyword"},
    {"&WHOLE", O, "lambda-list keyword"},

    // Character names (at most 9 characters): codes 8, 9, 10, 12, 13, 27, 0.
    {"BACKSPACE", O, "character 8"},  // 50
    {"TAB", O, "character 9"},
    {"NEWLINE", O, "character 10"},
    {"PAGE", O, "character 12"},
    {"RETURN", O, "character 13"},
    {"ESC", O, "character 27"},  // 55
    {"NUL", O, "character 0"},

    // Special keys: key code 0x100 + index.
    {"F1", O, "key 0x139; help in the line editor"},
    {"F2", O, "key 0x13A"},
    {"F3", O, "key 0x13B; debugger"},
    {"F4", O, "key 0x13C; edit"},  // 60
    {"F5", O, "key 0x13D; continue, restart"},
    {"F6", O, "key 0x13E"},
    {"F7", O, "key 0x13F; show again"},
    {"F8", O, "key 0x140; step into"},
    {"F9", O, "key 0x141; value display"},  // 65
    {"F10", O, "key 0x142; step over"},
    {"F11", O, "key 0x143"},
    {"F12", O, "key 0x144"},
    {"HOME", O, "key 0x145"},
    {"UP", O, "key 0x146"},  // 70
    {"PAGEUP", O, "key 0x147"},
    {"LEFT", O, "key 0x148"},
    {"CLEAR", O, "key 0x149 (keypad 5)"},
    {"RIGHT", O, "key 0x14A"},
    {"DOWN", O, "key 0x14B"},  // 75
    {"PAGEDOWN", O, "key 0x14C"},
    {"INSERT", O, "key 0x14D"},
    {"DELETE", O, "key 0x14E"},
    {"%KEY-4F", O, "key 0x14F"},
    {"%KEY-50", O, "key 0x150"},  // 80
    {"%KEY-51", O, "key 0x151"},
    {"%KEY-52", O, "key 0x152"},
    {"%KEY-53", O, "key 0x153"},

    // Modifier names: bits 1, 2, 4 (key bits 0x200, 0x400, 0x800).
    {"CONTROL", O, "modifier bit 1"},
    {"META", O, "modifier bit 2"},  // 85
    {"SHIFT", O, "modifier bit 4"},

    // Keyword values.
    {"CAPITALIZE", O, "*PRINT-CASE* value"},
    {"DOWNCASE", O, "*PRINT-CASE* value"},
    {"UPCASE", O, "*PRINT-CASE* value"},
    {"INPUT", O, "OPEN direction"},  // 90
    {"OUTPUT", O, "OPEN direction"},
    {"IO", O, "OPEN direction"},
    {"PROBE", O, "OPEN direction"},
    {"ERROR", O, "OPEN :IF-EXISTS/:IF-DOES-NOT-EXIST value; key of numbered error texts"},
    {"OVERWRITE", O, "OPEN :IF-EXISTS value"},  // 95
    {"RENAME", O, "OPEN :IF-EXISTS value: back up, write anew"},
    {"RENAME-AND-DELETE", O, "OPEN :IF-EXISTS value: as RENAME, backup removed at close"},
    {"APPEND", O, "OPEN :IF-EXISTS value; list concatenation of backquote"},
    {"CREATE", O, "OPEN :IF-DOES-NOT-EXIST value"},
    {"DEFAULT", O, "external format; character element type"},  // 100
    {"CP1251", O, "external format without conversion"},
    {"CP866", O, "external format converting to code page 866"},
    {"ABSOLUTE", O, "directory list marker"},
    {"RELATIVE", O, "directory list marker"},

    // Type names, alphabetical but for COMPLEX.
    {"BIGNUM", O, "TYPE-OF of a 64-bit integer"},  // 105
    {"BIT", O, ""},
    {"BIT-VECTOR", O, ""},
    {"CHARACTER", O, "TYPE-OF of a character with attributes; character element type"},
    {"COMPILED-FUNCTION", O, "TYPE-OF of a kind-2 built-in"},
    {"CONS", O, "TYPE-OF of a cons"},  // 110
    {"FIXNUM", O, "TYPE-OF of a fixnum"},
    {"FLOAT", O, "TYPE-OF of a double; part type of COMPLEX"},
    {"FUNCTION", O, "documentation kind of functions and macros; #' reads (FUNCTION x)"},
    {"HASH-TABLE", O, "TYPE-OF of a tag-0x50 type-20 object"},
    {"INTEGER", O, "TYPEP (INTEGER low high); part type of COMPLEX"},  // 115
    {"KEYWORD", O, "package designator of INTERN"},
    {"LIST", O, "COERCE and MAP result type; list builder of backquote"},
    {"NULL", O, "TYPE-OF of NIL"},
    {"NUMBER", O, ""},
    {"COMPLEX", O, "TYPE-OF of a complex; TYPEP (COMPLEX part)"},  // 120
    {"SEQUENCE", O, ""},
    {"SIMPLE-STRING", O, ""},
    {"SIMPLE-VECTOR", O, ""},
    {"STRING", O, "TYPE-OF of a string; TYPEP (STRING size); COERCE and MAP result type"},
    {"STRING-CHAR", O, "TYPE-OF of a plain character; element type of strings"},  // 125
    {"STRUCTURE", O, ""},
    {"SYMBOL", O, "TYPE-OF of a symbol"},
    {"T", C, "true"},
    {"UNSIGNED-BYTE", O, "binary element type"},
    {"VECTOR", O, "TYPE-OF of a simple vector; vector constructor of backquote"},  // 130

    // Operators and markers, alphabetical.
    {"1+", O, ""},
    {"1-", O, ""},
    {"ABS", O, ""},
    {"ACONS", O, ""},
    {"AND", O, "TYPEP and feature operator: all of"},  // 135
    {"APPLY", O, "called by APPLYHOOK; function shown for undefined functions"},
    {"CLOSE", O, "closing function of LOAD and the image built-ins"},
    {"%KEYBOARD-INTERRUPT", O, "function called when a keyboard interrupt is pending"},
    {"ED", O, "value: name of the temporary file of the editor built-in"},
    {"EQL", O, "TYPEP (EQL x); default hash-table test"},  // 140
    {"EVAL", O, "function name shown at top level"},
    {"FUNCALL", O, ""},
    {"HELP", O, "function called by F1"},
    {"%COMPLETE", O, "function called by Tab with the word as a string"},
    {"LAMBDA", O, "car of an interpreted function"},  // 145
    {"LET*", O, "sequential binding of place assignments"},
    {"LEXICAL-CLOSURE", O, "car of a closure"},
    {"LISP-IMPLEMENTATION-TYPE", O, ""},
    {"LIST*", O, "dotted list builder of backquote"},
    {"LOAD", O, "loads the start-up file"},  // 150
    {"MACRO", O, "macro marker; DEFTYPE and place expander marker"},
    {"MACROEXPAND-1", O, "called on a place no expander knows"},
    {"MEMBER", O, "TYPEP (MEMBER ...)"},
    {"NCONC", O, "destructive concatenation of backquote"},
    {"NOT", O, "TYPEP and feature operator: negation"},  // 155
    {"OPEN", O, "the open function of LOAD and the image built-ins"},
    {"OR", O, "TYPEP and feature operator: any of"},
    {"OTHERWISE", O, "catch-all clause of CASE"},
    {"PROG", O, ""},
    {"PROG1", O, ""},  // 160
    {"PROG2", O, ""},
    {"PROGN", O, "sequence of place assignments"},
    {"QUOTE", O, "quotation"},
    {"READ", O, "function name of stream errors; default help topic"},
    {"RUSSIAN", O, "feature selecting the RUSSIAN documentation"},  // 165
    {"SATISFIES", O, "TYPEP (SATISFIES f)"},
    {"SETF", O, "documentation kind of place expanders; writer name for SLOT-MISSING"},
    {"SETQ", O, "assignment of place expansions"},
    {"SLOT-BOUNDP", O, ""},
    {"SLOT-MAKUNBOUND", O, ""},  // 170
    {"SLOT-MISSING", O, "called for a missing slot"},
    {"SLOT-UNBOUND", O, "called for an unbound slot"},
    {"SLOT-VALUE", O, "reader name for SLOT-MISSING"},
    {"STARTUP", O, "start-up feature, action and file name"},
    {"TYPE", O, "documentation kind of DEFTYPE"},  // 175
    {"UNLESS", O, ""},
    {"UNWIND-PROTECT", O, ""},
    {"VARIABLE", O, "documentation kind of variables"},

    // Hooks, tables and variables.
    {"%FILL-ARRAY", O, "fills the contents of an array of rank 2 or more"},
    {"%PRINT-INSTANCE", O, "function: prints a structure or instance (object stream)"},  // 180
    {"%EXIT-CODE", S, "the process exit code when the top level exits (a fixnum 0..255)"},
    {"DECLARE", O, "heads a body with declarations; SPECIAL ones make the variables special"},
    {"%BREAK-COMMANDS", S, "break-loop command table: alist of characters and functions"},
    {"*BREAK-ON-WARNINGS*", S, "warnings enter a break loop"},
    {"*DEBUG-IO*", S, "terminal stream of the break loop and the debugger"},  // 185
    {"*ERROR-OUTPUT*", S, "error output stream"},
    {"*FEATURES*", S, "features list"},
    {"%TOP-LEVEL-COMMANDS", S, "top-level command table: alist of characters and functions"},
    {"*PRINT-RIGHT-MARGIN*", S, "right margin of non-window streams (a fixnum)"},
    {"*LOAD-PATHNAME*", S, "file name of the current LOAD"},  // 190
    {"*LOAD-VERBOSE*", S, "default verbosity of LOAD"},
    {"*PRINT-ARRAY*", S, "printer control"},
    {"*PRINT-BASE*", S, "printer control (a fixnum 2..36)"},
    {"*PRINT-CASE*", S, "printer control"},
    {"*PRINT-ESCAPE*", S, "printer control"},  // 195
    {"*PRINT-GENSYM*", S, "printer control"},
    {"*PRINT-LENGTH*", S, "printer control"},
    {"*PRINT-LEVEL*", S, "printer control"},
    {"*PRINT-PRETTY*", S, "printer control"},
    {"*PRINT-RADIX*", S, "printer control"},  // 200
    {"*QUERY-IO*", S, "query stream"},
    {"*READ-BASE*", S, "read base (a fixnum 2..36)"},
    {"%PROMPT", S, "prompt: a character, string or symbol"},
    {"%IMAGE-NAME", S, "name of the image file"},
    {"%COMMAND-LINE", S, "program path and command-line arguments"},  // 205
    {"*STANDARD-INPUT*", S, "standard input stream; read by the top level"},
    {"*STANDARD-OUTPUT*", S, "standard output stream; written by the top level"},
    {"%STATUS-STREAM", S, "status window stream; banners and notices"},
    {"%INDICATOR-STREAM", S, "indicator window stream"},
    {"*TERMINAL-IO*", S, "terminal window stream"},  // 210
    {"*TRACE-OUTPUT*", S, "trace output stream; TIME reports to it"},
    {"+", S, "last form read"},
    {"++", S, "form read before +"},
    {"+++", S, "form read before ++"},
    {"-", S, "form being evaluated"},  // 215
    {"*", S, "last primary value"},
    {"**", S, "primary value before *"},
    {"***", S, "primary value before **"},
    {"/", S, "last list of values"},
    {"//", S, "list of values before /"},  // 220
    {"///", S, "list of values before //"},
    {"%RUN-EDITOR", O, "function running the editor on a file"},
    {"%STEP-HOOK", S, "function: the stepping hook; value: breakpoint operators"},
    {"*APPLYHOOK*", S, "apply hook"},
    {"%DEBUG-COMMANDS", S, "debugger command table"},  // 225
    {"%EDITOR", S, "value handed to the editor function"},
    {"*EVALHOOK*", S, "eval hook"},
    {"%STEP-COMMANDS", S, "stepper command table"},
    {"%MESSAGE-PRINT-LENGTH", S, "*PRINT-LENGTH* while messages print"},
    {"%MESSAGE-PRINT-LEVEL", S, "*PRINT-LEVEL* while messages print"},  // 230
    {"%RESERVED-231", O, ""},
    {"%RESERVED-232", O, ""},
    {"%RESERVED-233", O, ""},
    {"%RESERVED-234", O, ""},
    {"%RESERVED-235", O, ""},  // 235

    // The standard library.
    {"%PACKAGE-NAMES", S,
     "the names and nicknames of the packages, (name . keyword-p), for the reader's pkg:name"},
    {"*READTABLE*", S,
     "the current readtable: NIL for the macro-character table of the root words, or a readtable "
     "vector the reader takes its syntax from"},
    {"*PRINT-CIRCLE*", S,
     "printer control: shared and circular structure prints with #n= and #n#"},
    {"*PRINT-READABLY*", S, "printer control: an object that would not read back is an error"},
    {"%PRINT-CIRCLE-TABLE", S,
     "while a print with *PRINT-CIRCLE* runs: (table . last label) of the objects printed more "
     "than once"},  // 240
};

namespace {

// Entry 0 is NIL and the template that intern copies: interned, unbound,
// no function, no properties.
void make_nil() {
  Value name = mem_make_string("NIL", 3);
  zvm.sym_count = 1;
  sym_set_flags(0, SYMF_INTERNED);
  sym_set_name(0, name);
  sym_set_value(0, NO_VALUE);
  sym_set_function(0, NIL);
  sym_set_plist(0, NIL);
  sym_rehash();
}

}  // namespace

bool gen_make_fixed_symbols() {
  if (zvm.sym_count != 0) return gen_fail("the symbol table is not empty");
  make_nil();
  for (uint32_t i = 1; i < FIXED_SYMBOL_COUNT; i++) {
    const FixedSymbol& fs = zv_fixed_symbols[i];
    Value s = sym_intern_cstr(fs.name);
    if (s != make_symbol(i))
      return gen_fail("fixed symbol %s landed on index %u instead of %u", fs.name, symbol_index(s),
                      i);
    sym_set_flags(i, sym_flags(i) | fs.var_class);
  }
  return true;
}
