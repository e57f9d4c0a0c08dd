// Debug dumps to "dumph.log".
//
// These run when something is already corrupt (a stack index out of range,
// a hash array with no room), so they allocate nothing, trust no Value
// they print, and open the log afresh for each dump so that whatever was
// written survives the exit that usually follows.
#include "diag/dump.h"

#include <cstdint>
#include <cstdio>

#include "object/symbols.h"
#include "object/thread.h"
#include "object/value.h"

namespace {

const char* const LOG_NAME = "dumph.log";

// The heap object a Value names, when it lies wholly inside the part of
// the heap in use.
bool heap_object_ok(Value v) {
  if (!zvm.heap_base || !(tag_of(v) & TAG_HEAP_BIT)) return false;
  uint32_t off = heap_offset(v);
  return off >= 8 && off + 8 <= zvm.heap_fill &&
         off + object_size_at(heap_addr(v)) <= zvm.heap_fill;
}

bool string_ok(Value v) { return tag_of(v) == TAG_VECTOR && heap_object_ok(v) && is_string_raw(v); }

// The name string of symbol i, or NIL when the index or the entry is bad.
Value safe_symbol_name(uint32_t i) {
  if (!zvm.symtab || i >= zvm.sym_cap + 4) return NIL;
  Value name = sym_name(i);
  return string_ok(name) ? name : NIL;
}

void put_text(FILE* f, const char* fmt, Value s) {
  std::fprintf(f, fmt, static_cast<int>(string_length(s)),
               reinterpret_cast<const char*>(string_bytes(s)));
}

// The argument of a stack entry in full.  This is a plain stand-in for the
// printer: symbols and strings by their text, fixnums in decimal, anything
// else as its hexadecimal word.
void print_full(FILE* f, Value v) {
  uint32_t t = tag_of(v);
  if (v == NIL) {
    std::fputs("NIL", f);
  } else if (t == TAG_SYMBOL || t == TAG_KEYWORD) {
    Value name = safe_symbol_name(symbol_index(v));
    if (name == NIL) {
      std::fprintf(f, "%08x", v);
      return;
    }
    put_text(f, t == TAG_KEYWORD ? ":%.*s" : "%.*s", name);
  } else if (t == TAG_FIXNUM) {
    std::fprintf(f, "%d", fixnum_value(v));
  } else if (string_ok(v)) {
    put_text(f, "\"%.*s\"", v);
  } else {
    std::fprintf(f, "%08x", v);
  }
}

void dump_entry(FILE* f, const ThreadState* ts, uint32_t i) {
  const StackEntry& e = ts->stack[i];
  std::fprintf(f, " %04x %08x %04x %06x ", i, e.arg, e.tag, e.link);
  if (e.tag < 0x8000) {
    Value name = safe_symbol_name(e.tag);
    if (name != NIL)
      put_text(f, "'%.*s' ", name);
    else
      std::fputs("'?' ", f);
  } else if (string_ok(e.arg)) {
    put_text(f, "\"%.*s\" ", e.arg);
  } else if (is_context_tag(e.tag)) {
    std::fputs("[Context] ", f);
  } else {
    std::fputs("[Form] ", f);
  }
  const struct {
    uint16_t at;
    const char* label;
  } marks[] = {{ts->zvdinenv, "zvdinenv "}, {ts->zvfdinenv, "zvfdinenv "},
               {ts->zvdincxt, "zvdincxt "}, {ts->zvunwindcxt, "zvunwindcxt "},
               {ts->gltagcxt, "gltagcxt "}, {ts->zvform, "zvform "},
               {ts->zvlexenv, "zvlexenv "}};
  for (const auto& m : marks)
    if (m.at == i) std::fputs(m.label, f);
  std::fputc('\n', f);
  if (!is_context_tag(e.tag)) {
    print_full(f, e.arg);
    std::fputc('\n', f);
  }
}

// One slot of the hash array; for a symbol also its name and the probe
// sequence of that name up to this slot.
void dump_slot(FILE* f, uint32_t slot) {
  uint16_t c = zvm.hash[slot];
  std::fprintf(f, "%05d %05d %05x", slot, c, c);
  Value name = c < 0x8000 ? safe_symbol_name(c) : NIL;
  if (name != NIL) {
    uint32_t n = string_length(name);
    // Names are not zero-terminated: the precision keeps printf inside them.
    std::fprintf(f, " [%02u] '%20.*s' TAG %4x ", n, static_cast<int>(n < 20 ? n : 20),
                 reinterpret_cast<const char*>(string_bytes(name)), sym_flags(c));
    uint32_t h = sym_hash(string_bytes(name), n);
    std::fprintf(f, "(%8x :", h);
    uint32_t size = zvm.hash_size;
    uint32_t at = h % size, step = h % (size - 2) + 1, probes = 0;
    while (probes < size) {
      std::fprintf(f, " %u", at);
      probes++;
      if (at == slot) break;
      at += step;
      if (at >= size) at -= size;
    }
    std::fprintf(f, " <%u>)", probes);
  }
  std::fputc('\n', f);
}

}  // namespace

void dump_environment(ThreadState* ts, const char* reason) {
  FILE* f = std::fopen(LOG_NAME, "a+");
  if (!f) return;
  std::fprintf(f, "DUMPENV %04x to %04x thread zv%d\nglvalue = %08x\nINDEX ARGUMENT TAG  LINK\n",
               ts->septr, ts->stack_top, static_cast<int>(ts->thread_number), ts->glvalue);
  if (ts->stack)
    for (uint32_t i = ts->septr; i < ts->stack_top; i++) dump_entry(f, ts, i);
  std::fclose(f);
}

void dump_symbol_hash(const char* reason) {
  FILE* f = std::fopen(LOG_NAME, "a+");
  if (!f) return;
  std::fprintf(f, "dumpshtab of %d entries %s\n", static_cast<int>(zvm.hash_size), reason);
  if (zvm.hash && zvm.hash_size >= 3)
    for (uint32_t i = 0; i < zvm.hash_size; i++) dump_slot(f, i);
  std::fclose(f);
}
